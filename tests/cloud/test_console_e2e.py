# The cloud console end to end: headless Chromium watches and drives a serial port of
# the program's console side (consolepeer, on a socat pty) through a real quillon-cloud.
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

    def send_from_page(self, text, state, timeout=30):  # the command's result once it shows state
        self.browser.find('#send-text').send_keys(text)
        self.browser.find('#send-button').click()
        row = 'tr.command:first-child'
        self.browser.until(lambda: self.browser.script(
            'const r = document.querySelector(arguments[0]); return r && r.textContent.includes(arguments[1])'
            ' && r.querySelector(".state").textContent === arguments[2]', row, text, state), text + ' ' + state, timeout)
        return self.browser.script('return document.querySelector(arguments[0] + " .result").textContent', row)

    def test_watch_send_refuse_and_stop(self):
        browser = self.browser
        cid = self.expect('ready ').split()[1]
        browser.sign_in(self.service, EMAIL, PASSWORD)
        row = '.device[data-cid="%s"] tr.port-row[data-port-key="ser-0"]' % cid
        browser.until(lambda: browser.all(row), 'the port of the snapshot')
        browser.script('document.querySelector(arguments[0]).click()', row + ' .watch-button')
        self.expect('watching 1', timeout=45)  # an idle console polls at most every 30 s

        # What the device writes shows on the page.
        os.write(self.device, b'READY\r\nboot 2.1\r\n')
        browser.until(lambda: 'boot 2.1' in browser.find('#traffic').text, 'the device text')

        # What the page sends reaches the device with its line ending.
        self.assertEqual(self.send_from_page('AT+GMR', 'succeeded'), 'sent 8 bytes')
        self.assertEqual(self.device_reads(1), b'AT+GMR\r\n')

        # With remote send off the device refuses, and nothing is sent.
        self.order('allow-send 0')
        self.assertEqual(self.send_from_page('NOPE', 'failed'),
                         'Refused by the device: remote send is disabled on the device')
        self.assertEqual(self.device_reads(1), b'')

        # A result lost on its way: the service delivers the command again after 60 s,
        # and the device answers it without sending a second time.
        self.order('allow-send 1')
        self.order('lose-next-result')
        self.assertEqual(self.send_from_page('ONCE', 'succeeded', timeout=120), 'sent 6 bytes')
        self.expect('result-lost', timeout=1)
        self.assertEqual(self.device_reads(1), b'ONCE\r\n')

        # Two polls without a watcher end the watching.
        browser.find('#unwatch-button').click()
        self.expect('watching 0', timeout=20)
        self.order('quit')


if __name__ == '__main__':
    skip_without_browser('socat')
    unittest.main(argv=sys.argv[:1] + ['-v'])
