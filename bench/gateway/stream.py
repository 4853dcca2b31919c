#!/usr/bin/python3
"""Sends MIB mebibytes (no 0xFF) into a TCP port and reads them from the far pty end;
prints MB/s (10^6 bytes) from the first byte sent to the last byte read.
usage: stream.py PORT FAR_TTY MIB"""
import os, socket, sys, threading, time, termios, tty
port, far, size = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]) << 20
fd = os.open(far, os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
termios.tcflush(fd, termios.TCIOFLUSH)
block = bytes(i % 255 for i in range(65536))
s = socket.create_connection(("127.0.0.1", port))
got = 0
def reader():
    global got
    while got < size:
        got += len(os.read(fd, 1 << 16))
t = threading.Thread(target=reader)
t.start()
time.sleep(0.5)  # the server's greeting and its opening of the device
start = time.monotonic()
sent = 0
while sent < size:
    sent += s.send(block[: min(len(block), size - sent)])
t.join(120)
elapsed = time.monotonic() - start
print("%.1f" % (got / elapsed / 1e6 if got >= size else 0.0), flush=True)
s.close()
