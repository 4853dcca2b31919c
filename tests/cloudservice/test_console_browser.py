"""The browser console in headless Chromium, with the test playing the device over REST.

Usage: test_console_browser.py /path/to/quillon-cloud
QUILLON_SCREENSHOT_DIR keeps the screenshots taken on the way.
"""
import os
import shutil
import sys
import tempfile
import unittest

from cloudharness import Service, new_cid

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service as DriverService
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None

CHROMIUM = shutil.which('chromium') or '/usr/bin/chromium'
CHROMEDRIVER = shutil.which('chromedriver') or '/usr/bin/chromedriver'
PASSWORD = 'correct horse'
PORTS = [
    {'port_key': 'ser-0', 'title': 'COM3', 'display_name': 'COM3 (USB serial)', 'connection_mode': 0, 'is_open': True,
     'baud_rate': 115200, 'rx_bytes': 2048, 'tx_bytes': 12, 'capabilities': ['send_text', 'send_hex', 'open_port']},
    {'port_key': 'tcpc-1', 'title': '192.168.1.20:502', 'display_name': 'PLC', 'connection_mode': 2, 'is_open': False},
]


class Device:
    """The desktop program's side of the console, as far as this test needs it."""

    def __init__(self, service, email):
        self.service, self.cid = service, new_cid()
        answer = service.login(email, cid=self.cid)[1]
        self.token = answer['access_token']
        self.session = ''

    def call(self, method, path, body=None):
        status, answer, _ = self.service.call(method, path, body, token=self.token)
        assert status == 200, (path, answer)
        if 'session_id' in answer:
            self.session = answer['session_id']
        return answer

    def poll(self):
        return self.call('GET', '/api/v3/console/commands/poll?cid=%s&limit=16' % self.cid)

    def upload(self, *events):
        self.call('POST', '/api/v3/console/events', {'cid': self.cid, 'events': [
            {'client_time': '12:00:0%d' % i, 'port_key': 'ser-0', 'event_type': kind, 'payload_text': text}
            for i, (kind, text) in enumerate(events)]})

    def answer(self, command, ok, message='', error_code=''):
        self.call('POST', '/api/v3/console/commands/%s/result' % command['command_id'],
                  {'status': 'succeeded' if ok else 'failed', 'message': message, 'error_code': error_code})


class BrowserConsole(unittest.TestCase):
    def setUp(self):
        self.service = Service()
        self.addCleanup(self.service.stop)
        self.assertEqual(self.service.add_user('ann@example.com', PASSWORD), 0)
        self.device = Device(self.service, 'ann@example.com')
        self.device.call('POST', '/api/v3/console/heartbeat', {'cid': self.device.cid, 'hostname': 'bench-pc'})
        self.device.call('POST', '/api/v3/console/ports/snapshot', {'cid': self.device.cid, 'ports': PORTS})
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
        self.shots = os.environ.get('QUILLON_SCREENSHOT_DIR', '')

    def screenshot(self, name):
        if self.shots:
            os.makedirs(self.shots, exist_ok=True)
            self.browser.save_screenshot(os.path.join(self.shots, name + '.png'))

    def until(self, condition, what, timeout=20):
        return WebDriverWait(self.browser, timeout, poll_frequency=0.2).until(
            lambda _: condition(), message='waiting for ' + what)

    def find(self, selector):
        return self.browser.find_element(By.CSS_SELECTOR, selector)

    def command_view(self, command_id):
        """(state, result) of a command's row, read in one go: the page redraws the rows every second."""
        return self.browser.execute_script(
            'const row = document.querySelector(`tr.command[data-command-id="${arguments[0]}"]`);'
            'return row ? [row.querySelector(".state").textContent, row.querySelector(".result").textContent] : null;',
            command_id)

    def until_command_state(self, command_id, state):
        """Waits for a command's row to show `state`; returns its result text."""
        self.until(lambda: (self.command_view(command_id) or [None])[0] == state, 'command to show ' + state)
        return self.command_view(command_id)[1]

    def test_sign_in_watch_send_and_sign_out(self):
        browser, device = self.browser, self.device
        browser.get('http://127.0.0.1:%d/' % self.service.port)
        self.until(lambda: self.find('#signin-form').is_displayed(), 'the sign-in form')
        self.assertFalse(self.find('#account').is_displayed())
        self.screenshot('1-sign-in')
        self.find('#email').send_keys('ann@example.com')
        self.find('#password').send_keys('wrong password')
        self.find('#signin-button').click()
        self.until(lambda: self.find('#signin-error').text == 'Incorrect email or password.', 'the refusal')
        self.find('#password').clear()
        self.find('#password').send_keys(PASSWORD)
        self.find('#signin-button').click()

        # The device and the ports of its snapshot.
        card = '.device[data-cid="%s"]' % device.cid
        self.until(lambda: browser.find_elements(By.CSS_SELECTOR, card), 'the device card')
        self.assertEqual(self.find('#user-label').text, 'ann@example.com')
        # The list is redrawn every 5 s, so it is read and clicked in one script each.
        self.assertEqual(browser.execute_script(
            'return Array.from(document.querySelectorAll(arguments[0]), row => row.dataset.portKey)',
            card + ' tr.port-row'), ['ser-0', 'tcpc-1'])
        self.assertIn('online', browser.execute_script('return document.querySelector(arguments[0]).textContent',
                                                       card + ' .device-head'))
        self.screenshot('2-devices')

        # Watching: the device learns it from its next poll and then streams.
        browser.execute_script('document.querySelector(arguments[0]).click()',
                               card + ' tr.port-row[data-port-key="ser-0"] .watch-button')
        self.until(lambda: self.find('#console-panel').is_displayed(), 'the console panel')
        self.until(lambda: 'Waiting' in self.find('#watch-status').text, 'the waiting note')
        answer = device.poll()
        self.assertIs(answer['watching'], True)
        self.assertTrue(device.session)
        device.upload(('rx', 'READY\r\n'), ('tx', 'AT\r\n'), ('rx', 'OK\r\n'))
        self.until(lambda: 'Live' in self.find('#watch-status').text, 'the live note')
        self.until(lambda: len(browser.find_elements(By.CSS_SELECTOR, '#traffic .event')) == 3, 'three events')
        self.assertEqual(self.find('#traffic .event.rx .text').text, 'READY')

        # Send text: queued, then delivered with the browser's session, then answered.
        self.find('#send-text').send_keys('AT+GMR')
        self.find('#send-button').click()
        self.until(lambda: browser.find_elements(By.CSS_SELECTOR, 'tr.command'), 'the queued command')
        command_id = self.browser.execute_script('return document.querySelector("tr.command").dataset.commandId')
        self.assertEqual(self.until_command_state(command_id, 'queued'), 'waiting for the device to poll')
        commands = device.poll()['commands']
        self.assertEqual([(c['command_id'], c['command'], c['session_id'], c['port_key'], c['payload'])
                          for c in commands],
                         [(command_id, 'send_text', device.session, 'ser-0', {'text': 'AT+GMR', 'line_ending': 'crlf'})])
        self.until_command_state(command_id, 'delivered')
        device.answer(commands[0], True, 'sent 8 bytes')
        device.upload(('tx', 'AT+GMR\r\n'), ('rx', 'v1.2.3\r\n'))
        self.assertEqual(self.until_command_state(command_id, 'succeeded'), 'sent 8 bytes')

        # Serial parameters and a refusal by the device.
        self.find('#baud-rate').clear()
        self.find('#baud-rate').send_keys('9600')
        self.find('#apply-config').click()
        self.find('#send-mode').send_keys('Hex')
        self.find('#send-text').send_keys('01 03 00 00')
        self.find('#send-button').click()
        self.until(lambda: len(browser.find_elements(By.CSS_SELECTOR, 'tr.command')) == 3, 'two more commands')
        commands = device.poll()['commands']
        self.assertEqual([(c['command'], c['payload']) for c in commands], [
            ('set_port_config', {'baud_rate': 9600, 'data_bits': 8, 'parity': 'none', 'stop_bits': 1,
                                 'flow_control': 'none'}),
            ('send_hex', {'hex': '01 03 00 00'})])
        device.answer(commands[0], True, 'port reopened at 9600')
        device.answer(commands[1], False, 'remote send is disabled on the device', 'permission_denied')
        self.assertEqual(self.until_command_state(commands[1]['command_id'], 'failed'),
                         'Refused by the device: remote send is disabled on the device')
        self.until(lambda: len(browser.find_elements(By.CSS_SELECTOR, '#traffic .event')) == 5, 'five events')
        self.screenshot('3-console')

        # Signing out ends the watch and the browser's sign-in.
        refresh = browser.execute_script("return sessionStorage.getItem('qc.refresh')")
        self.find('#signout-button').click()
        self.until(lambda: self.find('#signin-form').is_displayed(), 'the sign-in form again')
        self.assertFalse(self.find('#devices').is_displayed())
        self.assertFalse(self.find('#account').is_displayed())
        self.screenshot('4-signed-out')
        self.assertIs(device.poll()['watching'], False)
        status, answer, _ = self.service.call('POST', '/api/v3/account/token/refresh', {'refresh_token': refresh})
        self.assertEqual((status, answer['code']), (401, 'invalid_refresh_token'))


if __name__ == '__main__':
    missing = [what for what, present in (('python3-selenium', webdriver is not None),
                                          ('chromium', os.path.exists(CHROMIUM)),
                                          ('chromium-driver', os.path.exists(CHROMEDRIVER))) if not present]
    if missing:
        print('SKIP: not installed: ' + ', '.join(missing))
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], '-v'])
