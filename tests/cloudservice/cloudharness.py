"""Starts quillon-cloud on a free local port with a temporary database and talks to it."""
import http.client
import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
import uuid

BINARY = os.environ.get('QUILLON_CLOUD') or (sys.argv[1] if len(sys.argv) > 1 else '')


class Service:
    def __init__(self, *extra, database=None):
        self.folder = tempfile.TemporaryDirectory(prefix='qcloud-')
        self.database = database or 'sqlite:' + os.path.join(self.folder.name, 'cloud.sqlite')
        self.lines = []
        self._lock = threading.Condition()
        self.proc = subprocess.Popen([BINARY, '--listen', '127.0.0.1:0', '--database', self.database, *extra],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        match = self.wait_for(r'listening on (https?)://127\.0\.0\.1:(\d+)')
        self.scheme, self.port = match.group(1), int(match.group(2))

    def _read(self):
        for line in self.proc.stderr:
            with self._lock:
                self.lines.append(line.rstrip('\n'))
                self._lock.notify_all()

    def wait_for(self, pattern, timeout=15, start=0):
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                for line in self.lines[start:]:
                    found = re.search(pattern, line)
                    if found:
                        return found
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    raise AssertionError('no line matching %r in %r' % (pattern, self.lines))
                self._lock.wait(left)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self._reader.join(5)
        self.proc.stderr.close()
        self.folder.cleanup()

    def call(self, method, path, body=None, token=None, raw=None, headers=None):
        """Returns (status, decoded JSON or None, response headers)."""
        conn = http.client.HTTPConnection('127.0.0.1', self.port, timeout=20)
        try:
            sent = dict(headers or {})
            if token:
                sent['Authorization'] = 'Bearer ' + token
            data = raw
            if body is not None:
                data = json.dumps(body).encode()
                sent['Content-Type'] = 'application/json'
            conn.request(method, path, body=data, headers=sent)
            response = conn.getresponse()
            payload = response.read()
            try:
                decoded = json.loads(payload) if payload else None
            except ValueError:
                decoded = None
            return response.status, decoded, dict(response.getheaders())
        finally:
            conn.close()

    def add_user(self, email, password='correct horse'):
        """Runs `quillon-cloud add-user` on this service's database; returns its exit code."""
        return subprocess.run([BINARY, 'add-user', email, '--database', self.database], input=password + '\n',
                              capture_output=True, text=True, timeout=30).returncode

    def login(self, email, password='correct horse', cid=None):
        body = {'email': email, 'password': password, 'device_name': 'desk', 'client_version': '6.6.2'}
        if cid:
            body['cid'] = cid
        return self.call('POST', '/api/v3/account/login', body)


def new_cid():
    return str(uuid.uuid4())
