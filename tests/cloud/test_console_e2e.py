# The cloud console end to end: headless Chromium signs in to a real quillon-cloud, and
# watches and drives a serial port of the program's console side (consolepeer, on a
# socat pty) through it.
#   test_console_e2e.py /path/to/quillon-cloud /path/to/consolepeer
import os
import queue
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'cloudservice'))
from cloudharness import Browser, Service, skip_without_browser  # noqa: E402

EMAIL, PASSWORD = 'ann@example.com', 'correct horse'


class ConsoleEndToEnd(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory(prefix='qcloud-e2e-')  # the ptys and the browser profile
        self.addCleanup(folder.cleanup)
        self.service = Service()
        self.addCleanup(self.service.stop)
        self.assertEqual(self.service.add_user(EMAIL, PASSWORD), 0)
        # The program opens ttyA; the test is the device on ttyB.
        tty_a, tty_b = (os.path.join(folder.name, n) for n in ('ttyA', 'ttyB'))
        socat = subprocess.Popen(['socat', 'pty,raw,echo=0,link=' + tty_a, 'pty,raw,echo=0,link=' + tty_b])
        self.addCleanup(lambda: socat.terminate() or socat.wait(10))
        while not (os.path.exists(tty_a) and os.path.exists(tty_b)):
            time.sleep(0.05)
        self.device = os.open(tty_b, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        self.addCleanup(os.close, self.device)
        env = dict(os.environ, QLN_HOST='http://127.0.0.1:%d' % self.service.port,
                   DBUS_SESSION_BUS_ADDRESS='unix:path=/nonexistent/bus')
        self.peer = subprocess.Popen([sys.argv[2], EMAIL, PASSWORD, tty_a], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, env=env)
        for cleanup in (self.peer.stdout.close, lambda: self.peer.wait(10), self.peer.stdin.close):
            self.addCleanup(cleanup)
        self.said = queue.Queue()
        threading.Thread(target=lambda: [self.said.put(l.strip()) for l in self.peer.stdout], daemon=True).start()
        self.browser = Browser(folder.name)
        self.addCleanup(self.browser.driver.quit)

    def expect(self, prefix, timeout=30):  # the peer's next line starting with prefix; queue.Empty if none
        deadline = time.monotonic() + timeout
        while not (line := self.said.get(timeout=max(0.01, deadline - time.monotonic()))).startswith(prefix):
            pass
        return line

    def order(self, line):
        self.peer.stdin.write(line + '\n')
        self.peer.stdin.flush()
        self.expect('ok ' + line)

    def device_reads(self, seconds):
        data, deadline = b'', time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                data += os.read(self.device, 4096)
            except BlockingIOError:
                time.sleep(0.05)
        return data

    def send_from_page(self, text):
        self.browser.find('#send-text').send_keys(text)
        self.browser.find('#send-button').click()

    def result_when(self, text, state, timeout=30):
        """The result of the newest command, once it names `text` and shows `state`."""
        row = 'tr.command:first-child'
        self.browser.until(lambda: self.browser.script(
            'const r = document.querySelector(arguments[0]); return r && r.textContent.includes(arguments[1])'
            ' && r.querySelector(".state").textContent === arguments[2]', row, text, state), text + ' ' + state, timeout)
        return self.browser.script('return document.querySelector(arguments[0] + " .result").textContent', row)

    def test_watch_send_refuse_and_stop(self):
        browser = self.browser
        cid = self.expect('ready ').split()[1]
        browser.sign_in(self.service, EMAIL, 'wrong password')
        browser.until(lambda: browser.find('#signin-error').text == 'Incorrect email or password.', 'the refusal')
        self.assertFalse(browser.find('#account').is_displayed())
        browser.sign_in(self.service, EMAIL, PASSWORD)
        card = '.device[data-cid="%s"]' % cid
        row = card + ' tr.port-row[data-port-key="ser-0"]'
        browser.until(lambda: browser.script('return !!document.querySelector(arguments[0])', row), 'the port')
        self.assertEqual(browser.find('#user-label').text, EMAIL)
        self.assertIn('online', browser.script('return document.querySelector(arguments[0]).textContent',
                                               card + ' .device-head'))
        # The list is redrawn every 5 s, so it is clicked in one script.
        browser.script('document.querySelector(arguments[0]).click()', row + ' .watch-button')
        self.expect('watching 1', timeout=45)  # an idle console polls at most every 30 s

        # What the device writes shows on the page.
        os.write(self.device, b'READY\r\nboot 2.1\r\n')
        browser.until(lambda: 'boot 2.1' in browser.find('#traffic').text, 'the device text')

        # What the page sends waits while the device cannot poll, then reaches it with its line ending.
        self.order('offline')
        self.send_from_page('AT+GMR')
        self.assertEqual(self.result_when('AT+GMR', 'queued'), 'waiting for the device to poll')
        self.order('online')
        self.assertEqual(self.result_when('AT+GMR', 'succeeded'), 'sent 8 bytes')
        self.assertEqual(self.device_reads(1), b'AT+GMR\r\n')

        # The serial parameters go out as one command with every field.
        browser.find('#baud-rate').clear()
        browser.find('#baud-rate').send_keys('9600')
        browser.find('#apply-config').click()
        self.assertEqual(self.result_when('baud_rate=9600', 'succeeded'),
                         'port settings applied: 9600 baud, 8 data bits, parity none, 1 stop bits, flow control none')

        # With remote send off the device refuses, and nothing is sent.
        self.order('allow-send 0')
        self.send_from_page('NOPE')
        self.assertEqual(self.result_when('NOPE', 'failed'), 'Refused by the device: remote send is disabled on the device')
        self.assertEqual(self.device_reads(1), b'')

        # A result lost on its way: the service delivers the command again after 60 s,
        # and the device answers it without sending a second time.
        self.order('allow-send 1')
        self.order('lose-next-result')
        self.send_from_page('ONCE')
        self.assertEqual(self.result_when('ONCE', 'succeeded', timeout=120), 'sent 6 bytes')
        self.expect('result-lost', timeout=1)
        self.assertEqual(self.device_reads(1), b'ONCE\r\n')

        # Signing out ends the watch, which the device leaves after two polls without a
        # watcher, and the browser's sign-in.
        refresh = browser.script("return sessionStorage.getItem('qc.refresh')")
        browser.find('#signout-button').click()
        browser.until(lambda: browser.find('#signin-form').is_displayed(), 'the sign-in form again')
        self.expect('watching 0', timeout=20)
        status, answer, _ = self.service.call('POST', '/api/v3/account/token/refresh', {'refresh_token': refresh})
        self.assertEqual((status, answer['code']), (401, 'invalid_refresh_token'))
        self.order('quit')


if __name__ == '__main__':
    skip_without_browser('socat')
    unittest.main(argv=sys.argv[:1] + ['-v'])
