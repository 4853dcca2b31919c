"""What request bodies cost quillon-cloud in resident memory.

Each case runs against a fresh service and reports the growth of its peak resident
memory (VmHWM) over the idle baseline:
  oversize   one request declaring 200 MiB, sent until the service hangs up
  at-limit   one request of exactly --max-body bytes (1 MiB), answered
  held       100 connections each holding an unfinished 1 MiB body
  unguarded  a 100 MiB body with --max-body raised to 256 MiB, so that Qt's parser
             buffers all of it as it does without a limit

Usage: body_memory.py /path/to/quillon-cloud
"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

MIB = 1024 * 1024


def peak_kib(pid):
    with open('/proc/%d/status' % pid) as f:
        return int(re.search(r'VmHWM:\s+(\d+)', f.read()).group(1))


def head(length):
    return b'POST /api/v3/clients HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n' \
        % length


def send_body(port, length, stop_after=None):
    """Sends a request of `length` body bytes; returns the status line the service answered."""
    with socket.create_connection(('127.0.0.1', port), timeout=30) as conn:
        conn.sendall(head(length))
        chunk = b'x' * (64 * 1024)
        sent = 0
        try:
            while sent < (stop_after or length):
                conn.sendall(chunk[:min(len(chunk), length - sent)])
                sent += min(len(chunk), length - sent)
        except OSError:
            pass
        try:
            return conn.recv(100).split(b'\r\n')[0].decode(), sent
        except OSError as error:
            return repr(error), sent


def run_case(binary, name, *extra):
    with tempfile.TemporaryDirectory() as folder:
        service = subprocess.Popen([binary, '--listen', '127.0.0.1:0', '--database',
                                    'sqlite:' + os.path.join(folder, 'db.sqlite'), *extra],
                                   stderr=subprocess.PIPE, text=True)
        port = int(re.search(r':(\d+) ', service.stderr.readline()).group(1))
        threading.Thread(target=lambda: [None for _ in service.stderr], daemon=True).start()
        time.sleep(0.5)
        base = peak_kib(service.pid)
        if name == 'oversize':
            status, sent = send_body(port, 200 * MIB)
            note = '%s after %.1f MiB sent' % (status, sent / MIB)
        elif name == 'at-limit':
            status, _ = send_body(port, MIB)
            note = status
        elif name == 'held':
            conns = []
            for _ in range(100):
                conn = socket.create_connection(('127.0.0.1', port))
                conn.sendall(head(MIB) + b'x' * (MIB - 1))
                conns.append(conn)
            time.sleep(1)
            note = '100 connections open'
            peak = peak_kib(service.pid)
            for conn in conns:
                conn.close()
        else:
            status, _ = send_body(port, 100 * MIB)
            note = status
        time.sleep(0.5)
        growth = (peak if name == 'held' else peak_kib(service.pid)) - base
        service.terminate()
        service.wait(10)
        print('| %s | %.1f | %.1f | %s |' % (name, base / 1024, growth / 1024, note))


if __name__ == '__main__':
    binary = sys.argv[1]
    print('| case | idle peak MiB | peak growth MiB | answer |')
    print('|---|---:|---:|---|')
    for case, extra in (('oversize', ()), ('at-limit', ()), ('held', ()), ('unguarded', ('--max-body', '268435456'))):
        run_case(binary, case, *extra)
