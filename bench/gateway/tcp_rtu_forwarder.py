#!/usr/bin/python3
"""A small Modbus TCP to RTU forwarder for the benchmark: one request at a time, the
answer read by its expected length. usage: tcp_rtu_forwarder.py PORT TTY"""
import socket, struct, sys, serial

def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return struct.pack("<H", crc)

def read_exact(f, n):
    out = b""
    while len(out) < n:
        chunk = f(n - len(out))
        if not chunk:
            return None
        out += chunk
    return out

line = serial.Serial(sys.argv[2], 115200, timeout=1)
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", int(sys.argv[1])))
server.listen(1)
print("ready", flush=True)
while True:
    conn, _ = server.accept()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    while True:
        head = read_exact(conn.recv, 7)
        if head is None:
            break
        tid, _, length, unit = struct.unpack(">HHHB", head)
        pdu = read_exact(conn.recv, length - 1)
        frame = bytes([unit]) + pdu
        line.write(frame + crc16(frame))
        start = line.read(3)
        if len(start) < 3:
            continue
        fc = start[1]
        rest = 2 if fc & 0x80 else (start[2] + 2 if fc in (1, 2, 3, 4) else 5)
        answer = start + line.read(rest)
        body = answer[1:-2]
        conn.sendall(struct.pack(">HHHB", tid, 0, len(body) + 1, unit) + body)
    conn.close()
