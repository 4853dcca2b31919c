# The RTU and the ASCII frame of one request as pymodbus builds them.
# Arguments: slave function(hex) address quantity [values (hex)...]
import sys
from pymodbus import bit_read_message as br, bit_write_message as bw
from pymodbus import register_read_message as rr, register_write_message as rw
from pymodbus.factory import ClientDecoder
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer

slave, function, address, quantity = int(sys.argv[1]), int(sys.argv[2], 16), int(sys.argv[3]), int(sys.argv[4])
values = [int(v, 16) for v in sys.argv[5:]]
request = {
    0x01: lambda: br.ReadCoilsRequest(address, quantity),
    0x02: lambda: br.ReadDiscreteInputsRequest(address, quantity),
    0x03: lambda: rr.ReadHoldingRegistersRequest(address, quantity),
    0x04: lambda: rr.ReadInputRegistersRequest(address, quantity),
    0x05: lambda: bw.WriteSingleCoilRequest(address, bool(values[0])),
    0x06: lambda: rw.WriteSingleRegisterRequest(address, values[0]),
    0x0F: lambda: bw.WriteMultipleCoilsRequest(address, [bool(v) for v in values]),
    0x10: lambda: rw.WriteMultipleRegistersRequest(address, values),
}[function]()
request.unit_id = slave
for framer in (ModbusRtuFramer(ClientDecoder()), ModbusAsciiFramer(ClientDecoder())):
    print(framer.buildPacket(request).hex(" ").upper())
