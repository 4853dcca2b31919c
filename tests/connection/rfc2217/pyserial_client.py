#!/usr/bin/python3
# pyserial's rfc2217:// client driving the server role under test.
#
# usage: /usr/bin/python3 pyserial_client.py PORT
# Opens at 115200 8N1, then asks for 9600 baud, even parity, DTR off, RTS off and on
# again and a short break; sends the 256 byte values and expects them back reversed.
# Every request waits for the server's answer, so a missing or wrong answer ends in a
# pyserial exception and a non-zero exit.
import sys
import serial

port = int(sys.argv[1])
s = serial.serial_for_url("rfc2217://127.0.0.1:%d?timeout=5" % port, baudrate=115200, timeout=10)
s.baudrate = 9600
s.parity = serial.PARITY_EVEN
s.dtr = False
s.rts = False
s.rts = True
s.send_break(0.05)
payload = bytes(range(256))
s.write(payload)
s.flush()
back = s.read(len(payload))
print("roundtrip", back == payload[::-1], len(back))
s.close()
sys.exit(0 if back == payload[::-1] else 1)
