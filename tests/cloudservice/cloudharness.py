"""Starts quillon-cloud on a free local port with a temporary database and talks to it."""
import http.client
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import uuid

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service as DriverService
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None

CHROMIUM = shutil.which('chromium') or '/usr/bin/chromium'
CHROMEDRIVER = shutil.which('chromedriver') or '/usr/bin/chromedriver'
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

    def call(self, method, path, body=None, token=None, raw=None):
        """Returns (status, decoded JSON or None, response headers)."""
        conn = http.client.HTTPConnection('127.0.0.1', self.port, timeout=20)
        try:
            sent = {'Authorization': 'Bearer ' + token} if token else {}
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

    def api(self, method, path, body=None, token=None, raw=None):
        """call() on a path of the REST interface."""
        return self.call(method, '/api/v3' + path, body, token, raw)

    def add_user(self, email, password='correct horse'):
        """Runs `quillon-cloud add-user` on this service's database; returns its exit code."""
        return subprocess.run([BINARY, 'add-user', email, '--database', self.database], input=password + '\n',
                              capture_output=True, text=True, timeout=30).returncode

    def login(self, email, password='correct horse', cid=None):
        body = {'email': email, 'password': password, 'device_name': 'desk', 'client_version': '6.6.2'}
        if cid:
            body['cid'] = cid
        return self.api('POST', '/account/login', body)


def new_cid():
    return str(uuid.uuid4())


class Postgres:
    """A throwaway PostgreSQL server in a temporary folder, reached over a Unix socket with trust
    authentication; as root it runs as the postgres user. `missing` says why there is none."""

    def __init__(self):
        self.bin = os.environ.get('QUILLON_PG_BIN', '/usr/lib/postgresql/15/bin')
        self.folder = tempfile.TemporaryDirectory(prefix='qcloud-pg-')
        os.chmod(self.folder.name, 0o777)  # for the postgres user
        with socket.socket() as probe:
            probe.bind(('127.0.0.1', 0))
            self.port = probe.getsockname()[1]
        self.data, self.databases, self.missing = os.path.join(self.folder.name, 'data'), 0, ''
        try:
            self.run('initdb', '-D', self.data, '-A', 'trust', '-U', 'postgres', '--no-sync')
            self.run('pg_ctl', '-D', self.data, '-l', os.path.join(self.folder.name, 'server.log'), '-w', 'start', '-o',
                     "-p %d -k %s -c listen_addresses='' -c fsync=off" % (self.port, self.folder.name))
        except (OSError, subprocess.SubprocessError) as error:  # no server binaries, no runuser as root...
            self.missing = (getattr(error, 'stderr', None) or str(error))[-400:]

    def run(self, program, *arguments):
        command = [os.path.join(self.bin, program), *arguments]
        if os.geteuid() == 0:
            command = ['runuser', '-u', 'postgres', '--'] + command
        subprocess.run(command, cwd=self.folder.name, check=True, capture_output=True, text=True, timeout=60)

    def database(self):
        """The URL of a new, empty database."""
        self.databases += 1
        name = 't%d' % self.databases
        self.run('createdb', '-h', self.folder.name, '-p', str(self.port), '-U', 'postgres', name)
        return 'postgresql://postgres@localhost:%d/%s?host=%s' % (self.port, name, self.folder.name)

    def stop(self):
        if not self.missing:
            self.run('pg_ctl', '-D', self.data, '-m', 'immediate', '-w', 'stop')
        self.folder.cleanup()


def skip_without_browser(*tools):
    """Ends the run with ctest's skip code when the browser or one of `tools` is missing."""
    missing = [name for name, present in (('python3-selenium', webdriver is not None),
                                          ('chromium', os.path.exists(CHROMIUM)),
                                          ('chromium-driver', os.path.exists(CHROMEDRIVER))) if not present]
    missing += [tool for tool in tools if not shutil.which(tool)]
    if missing:
        sys.exit(print('SKIP: not installed: ' + ', '.join(missing)) or 77)


class Browser:
    """Headless Chromium with its profile in `folder`, on the service's page."""

    def __init__(self, folder):
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                     '--disable-background-networking', '--disable-component-update', '--disable-sync',
                     '--window-size=1280,1400', '--user-data-dir=' + os.path.join(folder, 'profile')):
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=DriverService(CHROMEDRIVER), options=options)

    def until(self, condition, what, timeout=30):
        return WebDriverWait(self.driver, timeout, poll_frequency=0.2).until(lambda _: condition(),
                                                                             'waiting for ' + what)

    def find(self, selector):
        return self.driver.find_element(By.CSS_SELECTOR, selector)

    def script(self, code, *arguments):
        return self.driver.execute_script(code, *arguments)

    def sign_in(self, service, email, password):
        self.driver.get('http://127.0.0.1:%d/' % service.port)
        self.until(lambda: self.find('#signin-form').is_displayed(), 'the sign-in form')
        self.find('#email').send_keys(email)
        self.find('#password').clear()
        self.find('#password').send_keys(password)
        self.find('#signin-button').click()
