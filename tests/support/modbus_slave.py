#!/usr/bin/python3
# A pymodbus 3.0 Modbus RTU slave (or TCP server) with known data, for the gateway tests.
#
# usage: /usr/bin/python3 modbus_slave.py rtu TTY [--baud 115200] [--unit 1]
#        /usr/bin/python3 modbus_slave.py tcp PORT [--unit 1]      (binds 127.0.0.1)
# Unit --unit only (others get no answer); PDU address N is index N:
#   holding registers HR[i] = 1000 + i, coils CO[i] = i % 2, i = 0..199
# Prints "ready" once serving.
import argparse, asyncio, logging, sys
from pymodbus.datastore import ModbusSequentialDataBlock, ModbusSlaveContext, ModbusServerContext
from pymodbus.server import StartAsyncSerialServer, StartAsyncTcpServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer

ap = argparse.ArgumentParser()
ap.add_argument("mode", choices=["rtu", "tcp"])
ap.add_argument("where")
ap.add_argument("--baud", type=int, default=115200)
ap.add_argument("--unit", type=int, default=1)
a = ap.parse_args()
# pymodbus 3.0 logs harmless errors on every disconnect
logging.getLogger("pymodbus").setLevel(logging.CRITICAL)

N = 200
store = ModbusSlaveContext(
    hr=ModbusSequentialDataBlock(0, [1000 + i for i in range(N)]),
    ir=ModbusSequentialDataBlock(0, [2000 + i for i in range(N)]),
    co=ModbusSequentialDataBlock(0, [i % 2 for i in range(N)]),
    di=ModbusSequentialDataBlock(0, [(i + 1) % 2 for i in range(N)]),
    zero_mode=True)
context = ModbusServerContext(slaves={a.unit: store}, single=False)

async def main():
    print("ready", flush=True)
    if a.mode == "rtu":
        # the serial server would frame as ASCII unless told
        await StartAsyncSerialServer(context=context, framer=ModbusRtuFramer, port=a.where,
                                     baudrate=a.baud, bytesize=8, parity="N", stopbits=1, timeout=0.01)
    else:
        await StartAsyncTcpServer(context=context, framer=ModbusSocketFramer,
                                  address=("127.0.0.1", int(a.where)), allow_reuse_address=True)
asyncio.run(main())
