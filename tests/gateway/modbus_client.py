#!/usr/bin/python3
# A pymodbus 3.0 TCP client that checks the slave's known data through a gateway.
#
# usage: /usr/bin/python3 modbus_client.py PORT ROUNDS OFFSET
# Each round reads 125 holding registers, writes two registers at 150 + 2 * OFFSET and
# reads them back, writes coils at 160 + OFFSET and reads them back. Exits 1 on the
# first wrong answer, naming it on stderr; prints "ok ROUNDS" at the end.
import logging, sys
from pymodbus.client import ModbusTcpClient

logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
port, rounds, offset = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
c = ModbusTcpClient("127.0.0.1", port=port, timeout=5, retries=0)
if not c.connect():
    sys.exit("cannot connect")

def check(what, got, want):
    if got != want:
        sys.exit("wrong %s: %s, expected %s" % (what, got, want))

for r in range(rounds):
    rr = c.read_holding_registers(0, 125, slave=1)
    check("read 125", getattr(rr, "registers", rr), [1000 + i for i in range(125)])
    values = [offset * 100 + r, 7 * r + 1]
    c.write_registers(150 + 2 * offset, values, slave=1)
    rr = c.read_holding_registers(150 + 2 * offset, 2, slave=1)
    check("registers back", getattr(rr, "registers", rr), values)
    bits = [(r + i) % 3 == 0 for i in range(5)]
    c.write_coils(160 + offset * 8, bits, slave=1)
    rr = c.read_coils(160 + offset * 8, 5, slave=1)
    check("coils back", getattr(rr, "bits", rr)[:5], bits)
c.close()
print("ok", rounds, flush=True)
