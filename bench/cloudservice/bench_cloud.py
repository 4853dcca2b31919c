"""Load on quillon-cloud as desktop programs and browsers make it.

200 simulated devices heartbeat every 20 s and poll for commands with the idle
back-off (2, 5, 10, then every 30 s). 20 of them are watched by a browser that reads
their traffic every second and sends a command every 10 s; a watched device polls
every 2 s, uploads a full batch (64 events, 8 KiB of text) every 2 s and a port
snapshot every 60 s, and answers the commands. SQLite, one keep-alive connection per
device and per browser. Prints request latency per kind, the service's CPU and
resident memory, and the number of failed requests.

Usage: bench_cloud.py /path/to/quillon-cloud [--seconds 60] [--devices 200] [--watched 20] [--server-times]
The latencies are measured by this runner, so they include its own scheduling on a
shared machine; --server-times adds the time each request took inside the service.
"""
import argparse
import asyncio
import json
import os
import random
import re
import subprocess
import sys
import tempfile
import threading
import time
import uuid

ACCOUNTS = 20
PASSWORD = 'bench password'


class Client:
    """One HTTP/1.1 keep-alive connection; requests one at a time."""

    def __init__(self, port, stats):
        self.port, self.stats = port, stats
        self.reader = self.writer = None

    async def call(self, kind, method, path, body=None, token=None):
        data = json.dumps(body).encode() if body is not None else b''
        head = '%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: %d\r\n' % (method, path, len(data))
        if token:
            head += 'Authorization: Bearer %s\r\n' % token
        if body is not None:
            head += 'Content-Type: application/json\r\n'
        started = time.perf_counter()
        try:
            if self.writer is None:
                self.reader, self.writer = await asyncio.open_connection('127.0.0.1', self.port)
            self.writer.write(head.encode() + b'\r\n' + data)
            await self.writer.drain()
            status = int((await self.reader.readline()).split()[1])
            length = 0
            while (line := await self.reader.readline()) not in (b'\r\n', b''):
                name, _, value = line.decode().partition(':')
                if name.lower() == 'content-length':
                    length = int(value)
            answer = json.loads(await self.reader.readexactly(length)) if length else {}
        except (OSError, ValueError, IndexError, asyncio.IncompleteReadError) as error:
            self.stats.fail(kind, repr(error))
            self.writer = None
            return None
        self.stats.record(kind, time.perf_counter() - started)
        if status >= 400:
            self.stats.fail(kind, '%d %s' % (status, answer.get('code')))
            return None
        return answer


class Stats:
    def __init__(self):
        self.latency, self.errors, self.recording = {}, [], False

    def record(self, kind, seconds):
        if self.recording:
            self.latency.setdefault(kind, []).append(seconds * 1000)

    def fail(self, kind, why):
        if self.recording:
            self.errors.append((kind, why))


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(share * (len(ordered) - 1))))]


class Device:
    POLL_STEPS = (2.0, 5.0, 10.0, 30.0)

    def __init__(self, port, stats, token, cid):
        self.client, self.token, self.cid = Client(port, stats), token, cid
        self.watching, self.step, self.session = False, 0, ''

    def note(self, answer):
        if answer and 'watching' in answer:
            self.session = answer.get('session_id', '')
            if answer['watching'] and not self.watching:
                self.watching, self.step = True, 0
                self.next_upload = self.next_snapshot = time.monotonic()
            elif not answer['watching']:
                self.watching = False

    async def run(self, until):
        now = time.monotonic()
        self.next_heartbeat = now + random.uniform(0, 20)
        self.next_poll = now + random.uniform(0, 2)
        self.next_upload = self.next_snapshot = float('inf')
        while time.monotonic() < until:
            now = time.monotonic()
            if now >= self.next_heartbeat:
                self.note(await self.client.call('heartbeat', 'POST', '/api/v3/console/heartbeat', {
                    'cid': self.cid, 'session_id': self.session, 'version': '6.6.2', 'hostname': 'bench'},
                    self.token))
                self.next_heartbeat = now + 20
            if now >= self.next_poll:
                answer = await self.client.call('poll', 'GET', '/api/v3/console/commands/poll?cid=%s&limit=16'
                                                % self.cid, token=self.token)
                self.note(answer)
                for command in (answer or {}).get('commands', []):
                    await self.client.call('result', 'POST', '/api/v3/console/commands/%s/result'
                                           % command['command_id'],
                                           {'status': 'succeeded', 'message': 'sent', 'error_code': ''}, self.token)
                if self.watching:
                    self.next_poll = now + 2
                else:
                    self.next_poll = now + self.POLL_STEPS[self.step]
                    self.step = min(self.step + 1, 3)
            if self.watching and now >= self.next_snapshot:
                ports = [{'port_key': 'ser-%d' % i, 'title': 'COM%d' % i, 'display_name': 'COM%d' % i,
                          'connection_mode': 0, 'is_open': True, 'baud_rate': 115200, 'rx_bytes': 0,
                          'tx_bytes': 0, 'bridged_to': '', 'capabilities': ['send_text']} for i in range(4)]
                self.note(await self.client.call('snapshot', 'POST', '/api/v3/console/ports/snapshot',
                                                 {'cid': self.cid, 'session_id': self.session, 'ports': ports},
                                                 self.token))
                self.next_snapshot = now + 60
            if self.watching and now >= self.next_upload:
                events = [{'client_time': int(time.time() * 1000), 'port_key': 'ser-0',
                           'event_type': 'rx' if i % 2 else 'tx', 'payload_text': ('%03d ' % i) + 'x' * 123}
                          for i in range(64)]
                self.note(await self.client.call('events', 'POST', '/api/v3/console/events',
                                                 {'cid': self.cid, 'events': events}, self.token))
                self.next_upload = now + 2
            wake = min(self.next_heartbeat, self.next_poll, self.next_upload, self.next_snapshot, until)
            await asyncio.sleep(max(0.0, wake - time.monotonic()))


async def browser(port, stats, token, cid, until):
    client = Client(port, stats)
    answer = await client.call('watch', 'POST', '/api/v3/console/devices/%s/watch' % cid, {}, token)
    session, after, sent = (answer or {}).get('session_id', ''), 0, 0
    while time.monotonic() < until:
        answer = await client.call('browser events', 'GET', '/api/v3/console/devices/%s/events?session_id=%s&after=%d'
                                   % (cid, session, after), token=token)
        for event in (answer or {}).get('events', []):
            after = max(after, event['seq'])
        if time.monotonic() - sent >= 10:
            sent = time.monotonic()
            await client.call('command', 'POST', '/api/v3/console/devices/%s/commands' % cid, {
                'session_id': session, 'command': 'send_text', 'port_key': 'ser-0',
                'payload': {'text': 'AT', 'line_ending': 'crlf'}}, token)
        await asyncio.sleep(1)


def process_figures(pid):
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])
    with open('/proc/%d/status' % pid) as f:
        rss = int(re.search(r'VmRSS:\s+(\d+)', f.read()).group(1))
    return ticks / os.sysconf('SC_CLK_TCK'), rss


async def sample_memory(pid, until, samples):
    while time.monotonic() < until:
        samples.append(process_figures(pid)[1])
        await asyncio.sleep(1)


async def main(args):
    folder = tempfile.TemporaryDirectory(prefix='qcloud-bench-')
    database = 'sqlite:' + os.path.join(folder.name, 'bench.sqlite')
    env = dict(os.environ)
    if args.server_times:
        # The access log gives each request's handling time inside the service.
        env['QT_LOGGING_RULES'] = 'quillon.cloudservice.info=true'
    service = subprocess.Popen([args.binary, '--listen', '127.0.0.1:0', '--database', database],
                               stderr=subprocess.PIPE, text=True, env=env)
    port = int(re.search(r':(\d+) ', service.stderr.readline()).group(1))
    # Keep reading what the service logs, so that it never blocks on a full pipe.
    log = []
    threading.Thread(target=lambda: log.extend(service.stderr), daemon=True).start()
    stats = Stats()
    try:
        setup = Client(port, stats)
        devices = []
        per_account = args.devices // ACCOUNTS
        for n in range(ACCOUNTS):
            email = 'bench%d@example.com' % n
            subprocess.run([args.binary, 'add-user', email, '--database', database], input=PASSWORD + '\n',
                           text=True, check=True, capture_output=True)
            login = await setup.call('login', 'POST', '/api/v3/account/login', {'email': email, 'password': PASSWORD})
            for _ in range(per_account):
                cid = str(uuid.uuid4())
                await setup.call('bind', 'POST', '/api/v3/account/devices/bind', {'cid': cid, 'device_name': 'bench'},
                                 login['access_token'])
                devices.append(Device(port, stats, login['access_token'], cid))
        print('set up %d accounts, %d devices; running %d s (after %d s warm-up)'
              % (ACCOUNTS, len(devices), args.seconds, args.warmup), flush=True)
        start = time.monotonic()
        until = start + args.warmup + args.seconds
        watched = random.Random(7).sample(devices, args.watched)
        tasks = [asyncio.create_task(browser(port, stats, d.token, d.cid, until)) for d in watched]
        tasks += [asyncio.create_task(d.run(until)) for d in devices]
        await asyncio.sleep(args.warmup)
        stats.recording = True
        log_start = len(log)
        cpu_before, _ = process_figures(service.pid)
        wall_before = time.monotonic()
        memory = []
        tasks.append(asyncio.create_task(sample_memory(service.pid, until, memory)))
        await asyncio.gather(*tasks)
        cpu = (process_figures(service.pid)[0] - cpu_before) / (time.monotonic() - wall_before)
        stats.recording = False
        streaming = sum(1 for d in watched if d.watching)
    finally:
        service.terminate()
        service.wait(10)
        folder.cleanup()

    print('\n| requests | count | per s | p50 ms | p99 ms | max ms |')
    print('|---|---:|---:|---:|---:|---:|')
    everything = []
    for kind in sorted(stats.latency):
        values = stats.latency[kind]
        everything += values
        print('| %s | %d | %.1f | %.2f | %.2f | %.1f |' % (kind, len(values), len(values) / args.seconds,
                                                         percentile(values, 0.5), percentile(values, 0.99),
                                                         max(values)))
    print('| all | %d | %.1f | %.2f | %.2f | %.1f |' % (len(everything), len(everything) / args.seconds,
                                                      percentile(everything, 0.5), percentile(everything, 0.99),
                                                      max(everything)))
    print('\nservice CPU: %.1f %% of one core; resident memory: %.1f MiB at the end, %.1f MiB at most'
          % (cpu * 100, memory[-1] / 1024, max(memory) / 1024))
    print('watched devices streaming at the end: %d of %d' % (streaming, args.watched))
    if args.server_times:
        handled = {}
        for line in log[log_start:]:
            found = re.search(r'(GET|POST|PUT) (\S+) \d+ (\d+) us', line)
            if found:
                path = re.sub(r'/[0-9a-f-]{32,36}/', '/{id}/', found.group(2))
                handled.setdefault(found.group(1) + ' ' + path, []).append(int(found.group(3)) / 1000)
        print('\nhandling time inside the service (access log):\n')
        print('| request | count | p50 ms | p99 ms |')
        print('|---|---:|---:|---:|')
        for kind in sorted(handled):
            values = handled[kind]
            print('| %s | %d | %.2f | %.2f |' % (kind, len(values), percentile(values, 0.5), percentile(values, 0.99)))
    print('failed requests: %d' % len(stats.errors))
    for kind, why in stats.errors[:10]:
        print('  %s: %s' % (kind, why))
    return 1 if stats.errors else 0


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('binary')
    parser.add_argument('--seconds', type=int, default=60)
    parser.add_argument('--warmup', type=int, default=10)
    parser.add_argument('--devices', type=int, default=200)
    parser.add_argument('--watched', type=int, default=20)
    parser.add_argument('--server-times', action='store_true', help='also report handling times from the access log')
    sys.exit(asyncio.run(main(parser.parse_args())))
