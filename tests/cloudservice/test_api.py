"""The REST interface of quillon-cloud, against the running program.

Usage: test_api.py /path/to/quillon-cloud
"""
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import http.client

from cloudharness import Service, new_cid

PASSWORD = 'correct horse'


class Account:
    """A signed-in account with one bound device."""

    def __init__(self, service, email):
        self.service = service
        self.cid = new_cid()
        assert service.add_user(email) == 0
        status, answer, _ = service.login(email, cid=self.cid)
        assert status == 200, answer
        self.access, self.refresh = answer['access_token'], answer['refresh_token']

    def call(self, method, path, body=None):
        return self.service.call(method, path, body, token=self.access)


class ServiceTest(unittest.TestCase):
    service_options = ()

    @classmethod
    def setUpClass(cls):
        cls.service = Service(*cls.service_options)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()


class Endpoints(ServiceTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.ann = Account(cls.service, 'ann@example.com')
        cls.bob = Account(cls.service, 'bob@example.com')

    def test_every_endpoint_answers_in_its_domain(self):
        ann, cid = self.ann, self.ann.cid
        state = ['cid', 'watching', 'session_id']
        rows = [
            # request, body, expected type, members the client reads
            ('GET /account/me', None, 'account', ['user', 'devices']),
            ('POST /account/devices/bind', {'cid': cid, 'device_name': 'lab'}, 'account', ['device']),
            ('POST /console/heartbeat', {'cid': cid, 'session_id': '', 'version': '6.6.2', 'hostname': 'lab'},
             'console', state),
            ('POST /console/ports/snapshot', {'cid': cid, 'session_id': '', 'ports': [{'port_key': 'ser-0'}]},
             'console', state),
            ('POST /console/events', {'cid': cid, 'events': []}, 'console', state),
            ('GET /console/commands/poll?limit=16&cid=' + cid, None, 'console', state + ['commands']),
            ('GET /console/devices', None, 'console', ['devices']),
            ('GET /cloud/quota', None, 'quota', ['month', 'enforced', 'up', 'down', 'purchased_bytes']),
            ('GET /sync/items?namespace=settings.session', None, 'sync', ['items']),
            ('PUT /sync/items/ns.any/k1', {'base_revision': 0, 'payload': {'a': 1}}, 'sync', ['item']),
            ('POST /clients', {'cid': cid, 'version': '6.6.2', 'launches': 3}, 'client', ['launches']),
            ('POST /clients/info', {'cid': cid, 'version': '6.6.2'}, 'client', ['last_seen']),
        ]
        for request, body, kind, members in rows:
            with self.subTest(request):
                method, path = request.split(' ')
                status, answer, headers = ann.call(method, '/api/v3' + path, body)
                self.assertEqual(status, 200, answer)
                self.assertEqual(answer['type'], kind)
                self.assertIs(answer['status'], True)
                for member in members:
                    self.assertIn(member, answer)
                self.assertEqual(headers['Cache-Control'], 'no-store')
        self.assertEqual(ann.call('GET', '/api/v3/cloud/quota')[1]['up']['remaining'], -1)
        conn = http.client.HTTPConnection('127.0.0.1', self.service.port, timeout=20)
        conn.request('GET', '/')
        response = conn.getresponse()
        self.assertEqual((response.status, response.getheader('Content-Type')), (200, 'text/html; charset=utf-8'))
        self.assertIn("script-src 'self'", response.getheader('Content-Security-Policy'))
        conn.close()
        self.assertEqual(self.service.call('POST', '/', raw=b'{}')[:2], (405, {
            'status': False, 'code': 'method_not_allowed', 'description': 'This path takes GET only.'}))

    def test_error_codes(self):
        cid, no_command, ann = self.ann.cid, '/console/commands/%s/result' % ('0' * 32), 'ann@example.com'
        command = lambda **members: dict({'session_id': 'old', 'port_key': 'ser-0'}, **members)
        rows = [
            # name, request, body (object or raw bytes), token, HTTP status, "type code" ("-": no type)
            ('wrong password', 'POST /account/login', {'email': ann, 'password': 'x' * 9}, None, 401,
             'account invalid_credentials'),
            ('unknown email', 'POST /account/login', {'email': 'who@x.org', 'password': PASSWORD}, None, 401,
             'account invalid_credentials'),
            ('missing password', 'POST /account/login', {'email': ann}, None, 400, 'account missing_field'),
            ('code for a bad address', 'POST /account/register/code', {'email': 'x'}, None, 400,
             'account invalid_email'),
            ('register without a code', 'POST /account/register',
             {'email': 'n@x.org', 'username': 'n', 'password': PASSWORD, 'code': '1'}, None, 400, 'account invalid_code'),
            ('register with a short password', 'POST /account/register',
             {'email': 'n@x.org', 'username': 'n', 'password': 'short', 'code': '1'}, None, 400, 'account weak_password'),
            ('unknown refresh token', 'POST /account/token/refresh', {'refresh_token': 'x' * 43}, None, 401,
             'account invalid_refresh_token'),
            ('bind with a bad cid', 'POST /account/devices/bind', {'cid': 'abc'}, 'ann', 400, 'account invalid_field'),
            ('no token', 'GET /account/me', None, None, 401, '- missing_token'),
            ('bad token', 'GET /sync/items', None, 'garbage', 401, '- invalid_token'),
            ('unbound device', 'POST /console/heartbeat', {'cid': new_cid()}, 'ann', 403, 'console device_not_bound'),
            ('poll limit 0', 'GET /console/commands/poll?limit=0&cid=' + cid, None, 'ann', 400, 'console invalid_field'),
            ('event of no type', 'POST /console/events', {'cid': cid, 'events': [
                {'port_key': 'ser-0', 'event_type': 'xx', 'payload_text': 'a'}]}, 'ann', 400, 'console invalid_field'),
            ('snapshot without ports', 'POST /console/ports/snapshot', {'cid': cid}, 'ann', 400, 'console missing_field'),
            ('result for no command', 'POST ' + no_command, {'status': 'succeeded'}, 'ann', 404,
             'console command_not_found'),
            ('result of no status', 'POST ' + no_command, {'status': 'done'}, 'ann', 400, 'console invalid_field'),
            ('command of an old session', 'POST /console/devices/%s/commands' % cid, command(command='open_port'),
             'ann', 409, 'console session_expired'),
            ('unknown command', 'POST /console/devices/%s/commands' % cid, command(command='reboot'), 'ann', 400,
             'console invalid_command'),
            ('hex that is not hex', 'POST /console/devices/%s/commands' % cid,
             command(command='send_hex', payload={'hex': '0x zz'}), 'ann', 400, 'console invalid_payload'),
            ('sync key with a space', 'PUT /sync/items/a%20b/c', {'base_revision': 0, 'payload': {}}, 'ann', 400,
             'sync invalid_field'),
            ('sync payload not an object', 'PUT /sync/items/ns/k', {'base_revision': 0, 'payload': [1]}, 'ann', 400,
             'sync invalid_field'),
            ('negative base revision', 'PUT /sync/items/ns/k', {'base_revision': -1, 'payload': {}}, 'ann', 400,
             'sync invalid_field'),
            ('malformed JSON', 'POST /account/login', b'{"email": ', None, 400, 'account malformed_json'),
            ('JSON that is not an object', 'POST /console/heartbeat', b'[1, 2]', 'ann', 400, 'console malformed_json'),
            ('unknown path', 'GET /nothing', None, None, 404, '- not_found'),
            ('wrong method', 'DELETE /account/me', None, 'ann', 405, '- method_not_allowed'),
            ('GET on a POST path', 'GET /account/login', None, None, 405, '- method_not_allowed'),
            ('client report without cid', 'POST /clients', {'version': '1'}, None, 400, 'client missing_field'),
        ]
        for name, request, body, token, status, expected in rows:
            with self.subTest(name):
                method, path = request.split(' ')
                raw = body if isinstance(body, bytes) else None
                got, answer, headers = self.service.call(method, '/api/v3' + path, None if raw else body, raw=raw,
                                                         token=self.ann.access if token == 'ann' else token)
                self.assertEqual(got, status, answer)
                self.assertEqual('%s %s' % (answer.get('type', '-'), answer['code']), expected)
                self.assertIs(answer['status'], False)
                if status == 405:
                    self.assertIn('Allow', headers)
                if status == 401 and 'type' not in answer:
                    self.assertEqual(headers['WWW-Authenticate'], 'Bearer')

    def test_accounts_see_only_their_own(self):
        ann, bob = self.ann, self.bob
        self.assertEqual(ann.call('POST', '/api/v3/console/ports/snapshot',
                                  {'cid': ann.cid, 'ports': [{'port_key': 'ser-9', 'title': 'ann only'}]})[0], 200)
        status, answer, _ = ann.call('POST', '/api/v3/console/devices/%s/watch' % ann.cid, {})
        session = answer['session_id']
        status, answer, _ = ann.call('POST', '/api/v3/console/devices/%s/commands' % ann.cid,
                                     {'session_id': session, 'command': 'open_port', 'port_key': 'ser-9'})
        self.assertEqual(status, 201, answer)
        command = answer['command']['command_id']
        ann.call('PUT', '/api/v3/sync/items/private/k', {'base_revision': 0, 'payload': {'secret': 1}})
        refused = [
            ('POST', '/api/v3/console/heartbeat', {'cid': ann.cid}, 403),
            ('GET', '/api/v3/console/commands/poll?cid=%s' % ann.cid, None, 403),
            ('POST', '/api/v3/console/events', {'cid': ann.cid, 'events': []}, 403),
            ('POST', '/api/v3/console/devices/%s/watch' % ann.cid, {}, 403),
            ('GET', '/api/v3/console/devices/%s/events?session_id=%s' % (ann.cid, session), None, 403),
            ('GET', '/api/v3/console/devices/%s/commands' % ann.cid, None, 403),
            ('POST', '/api/v3/console/devices/%s/commands' % ann.cid,
             {'session_id': session, 'command': 'close_port', 'port_key': 'ser-9'}, 403),
            ('POST', '/api/v3/console/commands/%s/result' % command, {'status': 'succeeded'}, 404),
        ]
        for method, path, body, status in refused:
            with self.subTest(path=path):
                self.assertEqual(bob.call(method, path, body)[0], status)
        devices = bob.call('GET', '/api/v3/console/devices')[1]['devices']
        self.assertEqual([d['cid'] for d in devices], [bob.cid])
        self.assertEqual(bob.call('GET', '/api/v3/sync/items')[1]['items'], [])
        # Bob binding Ann's device id gets a device of his own, not hers.
        self.assertEqual(bob.call('POST', '/api/v3/account/devices/bind', {'cid': ann.cid})[0], 200)
        theirs = [d for d in bob.call('GET', '/api/v3/console/devices')[1]['devices'] if d['cid'] == ann.cid]
        self.assertEqual(theirs[0]['ports'], [])
        # Ann's command is still hers to answer.
        self.assertEqual(ann.call('POST', '/api/v3/console/commands/%s/result' % command,
                                  {'status': 'succeeded'})[0], 200)
        ann.call('POST', '/api/v3/console/devices/%s/unwatch' % ann.cid, {})

    def test_revision_conflict(self):
        put = lambda key, base, payload: self.ann.call('PUT', '/api/v3/sync/items/settings.session/' + key,
                                                      {'base_revision': base, 'payload': payload})
        self.assertEqual(put('default', 0, {'n': 1})[1]['item']['revision'], 1)
        status, answer, _ = put('default', 0, {'n': 2})
        self.assertEqual((status, answer['status'], answer['code']), (409, False, 'revision_conflict'))
        self.assertEqual((answer['server_item']['revision'], answer['server_item']['payload']), (1, {'n': 1}))
        stored = put('default', 1, {'n': 3})[1]['item']
        self.assertEqual((stored['revision'], stored['payload']), (2, {'n': 3}))
        items = self.ann.call('GET', '/api/v3/sync/items?namespace=settings.session')[1]['items']
        self.assertEqual([(i['item_key'], i['revision'], i['payload']) for i in items], [('default', 2, {'n': 3})])
        status, answer, _ = put('missing', 4, {})
        self.assertEqual((status, answer['server_item']), (409, {'namespace': 'settings.session',
                                                                 'item_key': 'missing', 'revision': 0}))

    def test_console_round_trip_and_replayed_command_ids(self):
        ann = self.ann
        device = lambda method, path, body=None: ann.call(method, path, body)
        poll = lambda: device('GET', '/api/v3/console/commands/poll?cid=%s&limit=16' % ann.cid)[1]
        self.assertIs(poll()['watching'], False)
        watched = device('POST', '/api/v3/console/devices/%s/watch' % ann.cid, {})[1]
        session = watched['session_id']
        self.assertIs(watched['device_told'], False)
        answer = poll()
        self.assertEqual((answer['watching'], answer['session_id']), (True, session))
        events = [{'client_time': 1000 + i, 'port_key': 'ser-0', 'event_type': 'rx' if i % 2 else 'tx',
                   'payload_text': 'line %d\r\n' % i} for i in range(64)]
        self.assertEqual(device('POST', '/api/v3/console/events', {'cid': ann.cid, 'events': events})[1]['kept'], 64)
        seen = device('GET', '/api/v3/console/devices/%s/events?session_id=%s&after=60' % (ann.cid, session))[1]
        self.assertIs(seen['device_told'], True)
        self.assertEqual([e['payload_text'] for e in seen['events']], ['line 60\r\n', 'line 61\r\n', 'line 62\r\n',
                                                                        'line 63\r\n'])
        status, queued, _ = device('POST', '/api/v3/console/devices/%s/commands' % ann.cid,
                                   {'session_id': session, 'command': 'send_text', 'port_key': 'ser-0',
                                    'payload': {'text': 'AT', 'line_ending': 'crlf'}})
        self.assertEqual(status, 201)
        command_id = queued['command']['command_id']
        delivered = poll()['commands']
        self.assertEqual(delivered, [{'command_id': command_id, 'command': 'send_text', 'session_id': session,
                                      'port_key': 'ser-0', 'payload': {'text': 'AT', 'line_ending': 'crlf'}}])
        self.assertEqual(poll()['commands'], [])
        refusal = {'status': 'failed', 'message': 'remote send is disabled on the device',
                   'error_code': 'permission_denied'}
        result_path = '/api/v3/console/commands/%s/result' % command_id
        self.assertEqual(device('POST', result_path, refusal)[0], 200)
        status, answer, _ = device('POST', result_path, {'status': 'succeeded'})
        self.assertEqual((status, answer['code']), (409, 'command_finished'))
        recent = device('GET', '/api/v3/console/devices/%s/events?session_id=%s&after=64' % (ann.cid, session))[1]
        self.assertEqual(recent['events'], [])
        shown = [c for c in recent['recent_commands'] if c['command_id'] == command_id][0]
        self.assertEqual((shown['state'], shown['error_code'], shown['message']),
                         ('failed', 'permission_denied', 'remote send is disabled on the device'))
        self.assertEqual(poll()['commands'], [])
        device('POST', '/api/v3/console/devices/%s/unwatch' % ann.cid, {})
        self.assertEqual((poll()['watching'], poll()['session_id']), (False, ''))

    def test_failed_logins_are_rate_limited(self):
        email = 'locked@example.com'
        self.assertEqual(self.service.add_user(email), 0)
        for _ in range(5):
            self.assertEqual(self.service.login(email, 'wrong password')[0], 401)
        status, answer, headers = self.service.login(email)
        self.assertEqual((status, answer['code']), (429, 'too_many_attempts'))
        self.assertGreater(answer['retry_after'], 0)
        self.assertEqual(headers['Retry-After'], str(answer['retry_after']))

    def test_registration(self):
        start, cid, email = len(self.service.lines), new_cid(), 'carol@example.com'
        self.assertEqual(self.service.call('POST', '/api/v3/account/register/code', {'email': email})[0], 200)
        code = self.service.wait_for(r'registration code for carol@example.com: (\d{6})', start=start).group(1)
        status, answer, _ = self.service.call('POST', '/api/v3/account/register', {
            'email': email, 'username': 'carol', 'password': PASSWORD, 'code': code, 'cid': cid})
        self.assertEqual((status, answer['user']['username'], answer['device']['cid']), (200, 'carol', cid))
        self.assertIn('access_token', answer)
        for _ in range(2):
            status, again, _ = self.service.call('POST', '/api/v3/account/register/code', {'email': 'dan@x.org'})
        self.assertEqual((status, again['code']), (429, 'too_many_requests'))
        # A code asked for an address that then gets an account elsewhere cannot take it over.
        self.service.call('POST', '/api/v3/account/register/code', {'email': 'eve@example.com'})
        code = self.service.wait_for(r'registration code for eve@example.com: (\d+)', start=start).group(1)
        self.assertEqual(self.service.add_user('eve@example.com'), 0)
        status, answer, _ = self.service.call('POST', '/api/v3/account/register', {
            'email': 'eve@example.com', 'username': 'eve', 'password': PASSWORD, 'code': code})
        self.assertEqual((status, answer['code']), (409, 'email_taken'))
        # Asking for a code for an existing account answers alike but sends none.
        self.assertEqual(self.service.call('POST', '/api/v3/account/register/code',
                                           {'email': 'ann@example.com'})[0], 200)
        self.service.wait_for(r'ann@example.com, which already has an account; none sent', start=start)

    def test_add_user_from_the_command_line(self):
        rows = [('frank@example.com', PASSWORD, 0), ('frank@example.com', PASSWORD, 1),
                ('gina@example.com', 'short', 2), ('no address', PASSWORD, 2)]
        for email, password, code in rows:
            with self.subTest(email=email, code=code):
                self.assertEqual(self.service.add_user(email, password), code)
        self.assertEqual(self.service.login('frank@example.com')[0], 200)

    def test_body_limits_and_framing(self):
        big = b'{"cid": "' + b'a' * (1024 * 1024) + b'"}'
        status, answer, headers = self.service.call('POST', '/api/v3/clients', raw=big)
        self.assertEqual((status, answer['code'], headers.get('Connection')), (413, 'payload_too_large', 'close'))
        # Exactly at the limit the request reaches its handler.
        padding = 1024 * 1024 - len(b'{"cid": "%s", "pad": ""}' % new_cid().encode())
        exact = b'{"cid": "%s", "pad": "%s"}' % (new_cid().encode(), b'p' * padding)
        self.assertEqual(len(exact), 1024 * 1024)
        status, answer, _ = self.service.call('POST', '/api/v3/clients', raw=exact)
        self.assertEqual((status, answer['code']), (400, 'invalid_field'))
        raw_requests = [
            (b'POST /api/v3/clients HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n', 411),
            (b'GET / HTTP/1.1\r\nHost: x\r\nX-Big: ' + b'b' * 20000 + b'\r\n\r\n', 431),
            (b'POST /api/v3/clients HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n', 400),
        ]
        for request, status in raw_requests:
            with self.subTest(status=status):
                with socket.create_connection(('127.0.0.1', self.service.port), timeout=10) as conn:
                    conn.sendall(request)
                    self.assertTrue(conn.recv(200).startswith(b'HTTP/1.1 %d ' % status))
        self.assertEqual(self.service.call('GET', '/')[0], 200)

    def test_answers_keep_the_order_of_requests(self):
        login = json.dumps({'email': 'ann@example.com', 'password': PASSWORD}).encode()
        first = b'POST /api/v3/account/login HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n%s' % (
            len(login), login)
        second = b'GET /api/v3/nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n'

        def statuses(*parts):
            with socket.create_connection(('127.0.0.1', self.service.port), timeout=20) as conn:
                for part in parts:
                    conn.sendall(part)
                    time.sleep(0.05)  # separate reads; the first is still being hashed
                data = b''
                while chunk := conn.recv(65536):
                    data += chunk
            return re.findall(rb'HTTP/1\.1 (\d{3}) ', data)

        # The 404 is ready first but goes out after the sign-in's answer. A stalled service may
        # still read both parts at once (the pipelining case below): then try again.
        for _ in range(3):
            answered = statuses(first, second)
            if answered != [b'400']:
                break
        self.assertEqual(answered, [b'200', b'404'])
        # Two requests in one read would be merged by the HTTP parser: refused.
        self.assertEqual(statuses(first + second), [b'400'])


class TokenLifetime(ServiceTest):
    service_options = ('--access-token-ttl', '2')

    def test_expiry_refresh_and_rotation(self):
        account = Account(self.service, 'tess@example.com')
        first_refresh = account.refresh
        self.assertEqual(account.call('GET', '/api/v3/account/me')[0], 200)
        time.sleep(2.5)
        status, answer, _ = account.call('GET', '/api/v3/account/me')
        self.assertEqual((status, answer['code']), (401, 'token_expired'))
        status, renewed, _ = self.service.call('POST', '/api/v3/account/token/refresh',
                                               {'refresh_token': first_refresh, 'cid': account.cid})
        self.assertEqual(status, 200)
        self.assertEqual(renewed['expires_in'], 2)
        self.assertNotEqual(renewed['refresh_token'], first_refresh)
        self.assertEqual(self.service.call('GET', '/api/v3/account/me', token=renewed['access_token'])[0], 200)
        # The first refresh token again: somebody copied it, so the whole sign-in ends.
        status, answer, _ = self.service.call('POST', '/api/v3/account/token/refresh',
                                              {'refresh_token': first_refresh})
        self.assertEqual((status, answer['code']), (401, 'refresh_token_reused'))
        status, answer, _ = self.service.call('GET', '/api/v3/account/me', token=renewed['access_token'])
        self.assertEqual((status, answer['code']), (401, 'invalid_token'))
        status, answer, _ = self.service.call('POST', '/api/v3/account/token/refresh',
                                              {'refresh_token': renewed['refresh_token']})
        self.assertEqual((status, answer['code']), (401, 'invalid_refresh_token'))


class UploadQuota(ServiceTest):
    service_options = ('--monthly-upload-limit', '100')

    def test_quota_stops_uploads(self):
        account = Account(self.service, 'quinn@example.com')
        event = {'port_key': 'ser-0', 'event_type': 'rx', 'payload_text': 'é' * 30}  # 60 bytes of UTF-8
        status, answer, _ = account.call('POST', '/api/v3/console/events', {'cid': account.cid, 'events': [event]})
        self.assertEqual((status, answer['up_remaining']), (200, 40))
        status, answer, _ = account.call('POST', '/api/v3/console/events', {'cid': account.cid, 'events': [event]})
        self.assertEqual((status, answer['status'], answer['code'], answer['up_remaining']),
                         (429, False, 'quota_exceeded', 40))
        quota = account.call('GET', '/api/v3/cloud/quota')[1]
        self.assertEqual((quota['enforced'], quota['up']['used'], quota['up']['remaining']), (True, 60, 40))


class BodiesInFlight(ServiceTest):
    service_options = ('--max-body', '1024')  # 64 KiB of unfinished bodies at once

    def test_unfinished_bodies_are_bounded(self):
        head = b'POST /api/v3/clients HTTP/1.1\r\nContent-Length: 2\r\n\r\n'

        def answer_to_head_then_body():
            with socket.create_connection(('127.0.0.1', self.service.port), timeout=10) as conn:
                conn.sendall(head)
                time.sleep(0.2)  # the head arrives on its own
                conn.sendall(b'{}')
                return conn.recv(1000)

        held = []
        try:
            for _ in range(64):
                conn = socket.create_connection(('127.0.0.1', self.service.port), timeout=10)
                conn.sendall(b'POST /api/v3/clients HTTP/1.1\r\nContent-Length: 1024\r\n\r\n{')
                held.append(conn)
            for _ in range(3):  # a stalled service may read head and body at once: not this case
                answer = answer_to_head_then_body()
                if b'missing_field' not in answer:
                    break
            self.assertTrue(answer.startswith(b'HTTP/1.1 503 '), answer)
            self.assertIn(b'Retry-After: 5\r\n', answer)
            self.assertIn(b'"code":"busy"', answer)
            held.pop().close()
            deadline = time.monotonic() + 10  # until the service has seen the connection close
            while b'"code":"busy"' in answer and time.monotonic() < deadline:
                answer = answer_to_head_then_body()
            self.assertIn(b'"code":"missing_field"', answer)
        finally:
            for conn in held:
                conn.close()


class Tls(unittest.TestCase):
    def test_serves_https(self):
        if not shutil.which('openssl'):
            self.skipTest('openssl is not installed')
        with tempfile.TemporaryDirectory() as folder:
            cert, key = os.path.join(folder, 'cert.pem'), os.path.join(folder, 'key.pem')
            subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-subj', '/CN=localhost',
                            '-days', '1', '-keyout', key, '-out', cert], check=True, capture_output=True)
            service = Service('--tls-cert', cert, '--tls-key', key)
            self.addCleanup(service.stop)
            context = ssl.create_default_context(cafile=cert)
            context.check_hostname = False
            conn = http.client.HTTPSConnection('127.0.0.1', service.port, context=context, timeout=20)
            conn.request('GET', '/api/v3/account/me')
            response = conn.getresponse()
            self.assertEqual((service.scheme, response.status), ('https', 401))
            self.assertIn('max-age', response.getheader('Strict-Transport-Security'))
            conn.close()


if __name__ == '__main__':
    unittest.main(argv=[sys.argv[0], '-v'])
