#!/usr/bin/python3
# pyserial's rfc2217:// client against a gateway serving TTY, whose far end is FAR.
#
# usage: /usr/bin/python3 rfc2217_client.py PORT TTY FAR
# Sets 9600 and 57600 baud with 1 and 2 stop bits and reads them back from TTY's
# termios; expects 7 data bits and parity to be refused (a pty takes neither); drives
# DTR, RTS and Break (every request waits for its answer); sends all 256 byte values
# both ways. Ends with DTR low and RTS high. Prints one line per check.
import serial, subprocess, sys

port, tty, far_name = int(sys.argv[1]), sys.argv[2], sys.argv[3]
far = serial.Serial(far_name, 115200, timeout=5)
s = serial.serial_for_url("rfc2217://127.0.0.1:%d?timeout=5" % port, baudrate=9600, timeout=5)

def termios():
    out = subprocess.run(["stty", "-F", tty, "-a"], capture_output=True, text=True).stdout
    words = out.replace(";", " ").split()
    return words[words.index("speed") + 1], ("-cstopb" not in words)

for baud in (9600, 57600):
    for stop in (1, 2):
        s.baudrate = baud
        s.stopbits = stop
        print("line", baud, stop, *termios(), flush=True)
for name, value in (("bytesize", 7), ("parity", serial.PARITY_EVEN)):
    try:
        setattr(s, name, value)
        print("accepted", name, flush=True)
    except Exception as e:  # pyserial: "remote rejected value for option ..."
        print("refused" if "rejected" in str(e) else "failed", name, flush=True)
    # pyserial keeps the refused value; put it back for the next request
    setattr(s, name, 8 if name == "bytesize" else serial.PARITY_NONE)
for line, value in (("dtr", True), ("dtr", False), ("rts", False), ("rts", True),
                    ("break_condition", True), ("break_condition", False)):
    setattr(s, line, value)
print("lines answered", flush=True)
far.reset_input_buffer()
payload = bytes(range(256))
s.write(payload)
print("to device", far.read(256) == payload, flush=True)
far.write(payload[::-1])
print("from device", s.read(256) == payload[::-1], flush=True)
s.close()
