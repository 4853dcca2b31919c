#!/usr/bin/python3
"""Reads 10 holding registers over Modbus TCP for SECONDS; prints transactions/s.
usage: modbus_client.py PORT SECONDS"""
import logging, sys, time
from pymodbus.client import ModbusTcpClient
logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
c = ModbusTcpClient("127.0.0.1", port=int(sys.argv[1]), timeout=3, retries=0)
c.connect()
n, errors, end = 0, 0, time.monotonic() + float(sys.argv[2])
start = time.monotonic()
while time.monotonic() < end:
    r = c.read_holding_registers(0, 10, slave=1)
    if getattr(r, "registers", None) == [1000 + i for i in range(10)]:
        n += 1
    else:
        errors += 1
print("%.1f %d" % (n / (time.monotonic() - start), errors), flush=True)
