"""The cloud console end to end: headless Chromium watches a serial port of the
program's console (consolepeer, on a socat pty) through a real quillon-cloud.

Usage: test_console_e2e.py /path/to/quillon-cloud /path/to/consolepeer
QUILLON_SCREENSHOT_DIR keeps a screenshot of the page with live traffic.
"""
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'cloudservice'))
from cloudharness import Service  # noqa: E402

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service as DriverService
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None

PEER = sys.argv[2] if len(sys.argv) > 2 else ''
CHROMIUM = shutil.which('chromium') or '/usr/bin/chromium'
CHROMEDRIVER = shutil.which('chromedriver') or '/usr/bin/chromedriver'
EMAIL, PASSWORD = 'ann@example.com', 'correct horse'


class Peer:
    """consolepeer with its stdout lines in a queue."""

    def __init__(self, service_url, device):
        env = dict(os.environ, QLN_HOST=service_url, DBUS_SESSION_BUS_ADDRESS='unix:path=/nonexistent/bus')
        self.proc = subprocess.Popen([PEER, EMAIL, PASSWORD, device], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, env=env)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=lambda: [self.lines.put(l.rstrip('\n')) for l in self.proc.stdout],
                                       daemon=True)
        self.reader.start()

    def expect(self, prefix, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                break
            if line.startswith(prefix):
                return line
        raise AssertionError('consolepeer did not say %r' % prefix)

    def order(self, line):
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()
        self.expect('ok ' + line)

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.order('quit')
                self.proc.wait(10)
            except (AssertionError, BrokenPipeError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        self.reader.join(5)
        self.proc.stdin.close()
        self.proc.stdout.close()


class ConsoleEndToEnd(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix='qcloud-e2e-')
        self.addCleanup(self.folder.cleanup)
        self.service = Service()
        self.addCleanup(self.service.stop)
        self.assertEqual(self.service.add_user(EMAIL, PASSWORD), 0)
        # The device end is B; the program opens A.
        self.tty_a, self.tty_b = (os.path.join(self.folder.name, n) for n in ('ttyA', 'ttyB'))
        self.socat = subprocess.Popen(['socat', 'pty,raw,echo=0,link=' + self.tty_a, 'pty,raw,echo=0,link=' + self.tty_b],
                                      stderr=subprocess.DEVNULL)
        self.addCleanup(self.socat.wait, 10)
        self.addCleanup(self.socat.terminate)
        for _ in range(100):
            if os.path.exists(self.tty_a) and os.path.exists(self.tty_b):
                break
            time.sleep(0.05)
        self.device = os.open(self.tty_b, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        self.addCleanup(os.close, self.device)
        self.peer = Peer('http://127.0.0.1:%d' % self.service.port, self.tty_a)
        self.addCleanup(self.peer.stop)
        profile = tempfile.TemporaryDirectory(prefix='qcloud-chromium-')
        self.addCleanup(profile.cleanup)
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                     '--disable-background-networking', '--disable-component-update', '--disable-sync',
                     '--window-size=1280,1400', '--user-data-dir=' + profile.name):
            options.add_argument(flag)
        self.browser = webdriver.Chrome(service=DriverService(CHROMEDRIVER), options=options)
        self.addCleanup(self.browser.quit)

    def until(self, condition, what, timeout=20):
        return WebDriverWait(self.browser, timeout, poll_frequency=0.2).until(
            lambda _: condition(), message='waiting for ' + what)

    def find(self, selector):
        return self.browser.find_element(By.CSS_SELECTOR, selector)

    def read_device(self, wanted, timeout=20):
        data = b''
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and wanted not in data:
            try:
                data += os.read(self.device, 4096)
            except BlockingIOError:
                time.sleep(0.05)
        return data

    def send_from_page(self, text):
        before = len(self.browser.find_elements(By.CSS_SELECTOR, 'tr.command'))
        self.find('#send-text').send_keys(text)
        self.find('#send-button').click()
        self.until(lambda: len(self.browser.find_elements(By.CSS_SELECTOR, 'tr.command')) > before, 'the queued command')
        # The newest command is the first row.
        return self.browser.execute_script('return document.querySelector("tr.command").dataset.commandId')

    def command_view(self, command_id):
        return self.browser.execute_script(
            'const row = document.querySelector(`tr.command[data-command-id="${arguments[0]}"]`);'
            'return row ? [row.querySelector(".state").textContent, row.querySelector(".result").textContent] : null;',
            command_id)

    def until_command_state(self, command_id, state, timeout=30):
        self.until(lambda: (self.command_view(command_id) or [None])[0] == state, 'command to show ' + state, timeout)
        return self.command_view(command_id)[1]

    def test_watch_send_refuse_and_stop(self):
        browser, peer = self.browser, self.peer
        cid = peer.expect('ready ').split()[1]

        browser.get('http://127.0.0.1:%d/' % self.service.port)
        self.until(lambda: self.find('#signin-form').is_displayed(), 'the sign-in form')
        self.find('#email').send_keys(EMAIL)
        self.find('#password').send_keys(PASSWORD)
        self.find('#signin-button').click()
        row = '.device[data-cid="%s"] tr.port-row[data-port-key="ser-0"]' % cid
        self.until(lambda: browser.find_elements(By.CSS_SELECTOR, row), 'the port of the snapshot')
        browser.execute_script('document.querySelector(arguments[0]).click()', row + ' .watch-button')
        # An idle console polls at most every 30 s.
        peer.expect('watching 1', timeout=45)
        self.until(lambda: 'Live' in self.find('#watch-status').text, 'the live note', timeout=45)

        # What the device writes shows on the page.
        os.write(self.device, b'READY\r\nboot 2.1\r\n')
        self.until(lambda: 'boot 2.1' in self.find('#traffic').text, 'the device text')
        self.assertIn('READY', self.find('#traffic').text)
        if os.environ.get('QUILLON_SCREENSHOT_DIR'):
            os.makedirs(os.environ['QUILLON_SCREENSHOT_DIR'], exist_ok=True)
            browser.save_screenshot(os.path.join(os.environ['QUILLON_SCREENSHOT_DIR'], 'console-live.png'))

        # What the page sends reaches the device, once, with its line ending.
        command = self.send_from_page('AT+GMR')
        self.assertEqual(self.until_command_state(command, 'succeeded'), 'sent 8 bytes')
        self.assertEqual(self.read_device(b'AT+GMR\r\n'), b'AT+GMR\r\n')

        # With remote send off the device refuses, and nothing is sent.
        peer.order('allow-send 0')
        command = self.send_from_page('NOPE')
        self.assertEqual(self.until_command_state(command, 'failed'),
                         'Refused by the device: remote send is disabled on the device')
        self.assertEqual(self.read_device(b'NOPE', timeout=2), b'')

        # A result lost on its way: the service delivers the command again after
        # 60 s, and the device answers it without sending a second time.
        peer.order('allow-send 1')
        peer.order('lose-next-result')
        command = self.send_from_page('ONCE')
        peer.expect('result-lost')
        self.assertEqual(self.read_device(b'ONCE\r\n'), b'ONCE\r\n')
        self.assertEqual(self.until_command_state(command, 'succeeded', timeout=120), 'sent 6 bytes')
        self.assertEqual(self.read_device(b'ONCE', timeout=3), b'')

        # Two polls without a watcher end the watching.
        self.find('#unwatch-button').click()
        peer.expect('watching 0', timeout=20)


if __name__ == '__main__':
    missing = [what for what, present in (('python3-selenium', webdriver is not None),
                                          ('chromium', os.path.exists(CHROMIUM)),
                                          ('chromium-driver', os.path.exists(CHROMEDRIVER)),
                                          ('socat', shutil.which('socat') is not None)) if not present]
    if missing:
        print('SKIP: not installed: ' + ', '.join(missing))
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], '-v'])
