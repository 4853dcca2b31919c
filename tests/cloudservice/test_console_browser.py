"""The browser console in headless Chromium, with the test playing the device over REST.

Usage: test_console_browser.py /path/to/quillon-cloud
"""
import sys
import tempfile
import unittest

from cloudharness import Browser, Service, new_cid, skip_without_browser

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
        self.token = service.login(email, cid=self.cid)[1]['access_token']
        self.session = ''

    def call(self, method, path, body=None):
        status, answer, _ = self.service.call(method, '/api/v3/' + path, body, token=self.token)
        assert status == 200, (path, answer)
        self.session = answer.get('session_id', self.session)
        return answer

    def poll(self):
        return self.call('GET', 'console/commands/poll?cid=%s&limit=16' % self.cid)

    def upload(self, *events):
        self.call('POST', 'console/events', {'cid': self.cid, 'events': [
            {'client_time': '12:00:0%d' % i, 'port_key': 'ser-0', 'event_type': kind, 'payload_text': text}
            for i, (kind, text) in enumerate(events)]})


class BrowserConsole(unittest.TestCase):
    def setUp(self):
        self.service = Service()
        self.addCleanup(self.service.stop)
        self.assertEqual(self.service.add_user('ann@example.com', PASSWORD), 0)
        self.device = Device(self.service, 'ann@example.com')
        self.device.call('POST', 'console/heartbeat', {'cid': self.device.cid, 'hostname': 'bench-pc'})
        self.device.call('POST', 'console/ports/snapshot', {'cid': self.device.cid, 'ports': PORTS})
        profile = tempfile.TemporaryDirectory(prefix='qcloud-chromium-')
        self.addCleanup(profile.cleanup)
        self.browser = Browser(profile.name)
        self.addCleanup(self.browser.driver.quit)

    def command_view(self, command_id):
        """(state, result) of a command's row, read in one go: the page redraws the rows every second."""
        return self.browser.script(
            'const row = document.querySelector(`tr.command[data-command-id="${arguments[0]}"]`);'
            'return row ? [row.querySelector(".state").textContent, row.querySelector(".result").textContent] : null;',
            command_id)

    def until_command_state(self, command_id, state):
        """Waits for a command's row to show `state`; returns its result text."""
        self.browser.until(lambda: (self.command_view(command_id) or [None])[0] == state, 'command to show ' + state)
        return self.command_view(command_id)[1]

    def test_sign_in_watch_send_and_sign_out(self):
        browser, device = self.browser, self.device
        browser.sign_in(self.service, 'ann@example.com', 'wrong password')
        self.assertFalse(browser.find('#account').is_displayed())
        browser.until(lambda: browser.find('#signin-error').text == 'Incorrect email or password.', 'the refusal')
        browser.sign_in(self.service, 'ann@example.com', PASSWORD)

        # The device and the ports of its snapshot. The list is redrawn every 5 s, so it
        # is read and clicked in one script each.
        card = '.device[data-cid="%s"]' % device.cid
        browser.until(lambda: browser.all(card), 'the device card')
        self.assertEqual(browser.find('#user-label').text, 'ann@example.com')
        self.assertEqual(browser.script('return Array.from(document.querySelectorAll(arguments[0]), '
                                        'row => row.dataset.portKey)', card + ' tr.port-row'), ['ser-0', 'tcpc-1'])
        self.assertIn('online', browser.script('return document.querySelector(arguments[0]).textContent',
                                               card + ' .device-head'))

        # Watching: the device learns it from its next poll and then streams.
        browser.script('document.querySelector(arguments[0]).click()',
                       card + ' tr.port-row[data-port-key="ser-0"] .watch-button')
        browser.until(lambda: 'Waiting' in browser.find('#watch-status').text, 'the waiting note')
        self.assertIs(device.poll()['watching'], True)
        device.upload(('rx', 'READY\r\n'), ('tx', 'AT\r\n'), ('rx', 'OK\r\n'))
        browser.until(lambda: 'Live' in browser.find('#watch-status').text, 'the live note')
        browser.until(lambda: len(browser.all('#traffic .event')) == 3, 'three events')
        self.assertEqual(browser.find('#traffic .event.rx .text').text, 'READY')

        # Send text: queued, then delivered with the browser's session, then answered.
        browser.find('#send-text').send_keys('AT+GMR')
        browser.find('#send-button').click()
        browser.until(lambda: browser.all('tr.command'), 'the queued command')
        command_id = browser.script('return document.querySelector("tr.command").dataset.commandId')
        self.assertEqual(self.until_command_state(command_id, 'queued'), 'waiting for the device to poll')
        commands = device.poll()['commands']
        self.assertEqual([(c['command_id'], c['command'], c['session_id'], c['port_key'], c['payload'])
                          for c in commands],
                         [(command_id, 'send_text', device.session, 'ser-0', {'text': 'AT+GMR', 'line_ending': 'crlf'})])
        self.until_command_state(command_id, 'delivered')
        device.call('POST', 'console/commands/%s/result' % command_id, {'status': 'succeeded', 'message': 'sent 8 bytes'})
        self.assertEqual(self.until_command_state(command_id, 'succeeded'), 'sent 8 bytes')

        # Serial parameters go out as one command with every field.
        browser.find('#baud-rate').clear()
        browser.find('#baud-rate').send_keys('9600')
        browser.find('#apply-config').click()
        browser.until(lambda: len(browser.all('tr.command')) == 2, 'the second command')
        self.assertEqual([(c['command'], c['payload']) for c in device.poll()['commands']], [
            ('set_port_config', {'baud_rate': 9600, 'data_bits': 8, 'parity': 'none', 'stop_bits': 1,
                                 'flow_control': 'none'})])

        # Signing out ends the watch and the browser's sign-in.
        refresh = browser.script("return sessionStorage.getItem('qc.refresh')")
        browser.find('#signout-button').click()
        browser.until(lambda: browser.find('#signin-form').is_displayed(), 'the sign-in form again')
        self.assertFalse(browser.find('#devices').is_displayed())
        self.assertIs(device.poll()['watching'], False)
        status, answer, _ = self.service.call('POST', '/api/v3/account/token/refresh', {'refresh_token': refresh})
        self.assertEqual((status, answer['code']), (401, 'invalid_refresh_token'))


if __name__ == '__main__':
    skip_without_browser()
    unittest.main(argv=[sys.argv[0], '-v'])
