"""The REST interface of quillon-cloud, against the running program on SQLite and on PostgreSQL.

Usage: test_api.py /path/to/quillon-cloud
"""
import http.client
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

from cloudharness import Postgres, Service, new_cid

PASSWORD = 'correct horse'


class Account:
    """A signed-in account with one bound device."""

    def __init__(self, service, email):
        self.service, self.cid = service, new_cid()
        assert service.add_user(email) == 0
        status, answer, _ = service.login(email, cid=self.cid)
        assert status == 200, answer
        self.access, self.refresh = answer['access_token'], answer['refresh_token']

    def call(self, method, path, body=None):
        return self.service.api(method, path, body, token=self.access)

    def on_device(self, method, path, body=None):
        """A browser's call on this account's device."""
        return self.call(method, '/console/devices/%s/%s' % (self.cid, path), body)


def setUpModule():
    global POSTGRES
    POSTGRES = Postgres()


def tearDownModule():
    POSTGRES.stop()


class ServiceTest(unittest.TestCase):
    service_options = ()
    postgres = False  # else SQLite

    @classmethod
    def setUpClass(cls):
        if cls.postgres and POSTGRES.missing:
            raise unittest.SkipTest('no PostgreSQL: ' + POSTGRES.missing)
        cls.service = Service(*cls.service_options, database=POSTGRES.database() if cls.postgres else None)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        failed = [line for line in cls.service.lines if 'storage:' in line]
        assert not failed, 'statements failed in the database: %r' % failed

    def raw(self, *parts, pause=0.05):
        """Sends `parts` in writes of their own; returns the first bytes answered."""
        with socket.create_connection(('127.0.0.1', self.service.port), timeout=20) as conn:
            for part in parts:
                conn.sendall(part)
                time.sleep(pause)
            return conn.recv(1000)


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
                status, answer, headers = ann.call(*request.split(' '), body)
                self.assertEqual((status, answer['type'], answer['status']), (200, kind, True), answer)
                self.assertEqual([m for m in members if m not in answer], [])
                self.assertEqual(headers['Cache-Control'], 'no-store')
        self.assertEqual(ann.call('GET', '/cloud/quota')[1]['up']['remaining'], -1)
        status, _, headers = self.service.call('GET', '/')
        self.assertEqual((status, headers['Content-Type']), (200, 'text/html; charset=utf-8'))
        self.assertIn("script-src 'self'", headers['Content-Security-Policy'])
        self.assertEqual(self.service.call('POST', '/', raw=b'{}')[:2], (405, {
            'status': False, 'code': 'method_not_allowed', 'description': 'This path takes GET only.'}))

    def test_error_codes(self):
        cid, ann = self.ann.cid, 'ann@example.com'
        no_command, commands = '/console/commands/%s/result' % ('0' * 32), '/console/devices/%s/commands' % cid
        command = lambda name, **payload: {'session_id': 'old', 'port_key': 'ser-0', 'command': name, 'payload': payload}
        register = lambda password: {'email': 'n@x.org', 'username': 'n', 'password': password, 'code': '1'}
        item = lambda base, payload: {'base_revision': base, 'payload': payload}
        rows = [
            # name, request, body (object or raw bytes), token, "HTTP-status type code" ("-": no type)
            ('wrong password', 'POST /account/login', {'email': ann, 'password': 'x' * 9}, None,
             '401 account invalid_credentials'),
            ('unknown email', 'POST /account/login', {'email': 'who@x.org', 'password': PASSWORD}, None,
             '401 account invalid_credentials'),
            ('missing password', 'POST /account/login', {'email': ann}, None, '400 account missing_field'),
            ('code for a bad address', 'POST /account/register/code', {'email': 'x'}, None, '400 account invalid_email'),
            ('register without a code', 'POST /account/register', register(PASSWORD), None, '400 account invalid_code'),
            ('register, short password', 'POST /account/register', register('short'), None, '400 account weak_password'),
            ('unknown refresh token', 'POST /account/token/refresh', {'refresh_token': 'x' * 43}, None,
             '401 account invalid_refresh_token'),
            ('bind with a bad cid', 'POST /account/devices/bind', {'cid': 'abc'}, 'ann', '400 account invalid_field'),
            ('no token', 'GET /account/me', None, None, '401 - missing_token'),
            ('bad token', 'GET /sync/items', None, 'garbage', '401 - invalid_token'),
            ('unbound device', 'POST /console/heartbeat', {'cid': new_cid()}, 'ann', '403 console device_not_bound'),
            ('poll limit 0', 'GET /console/commands/poll?limit=0&cid=' + cid, None, 'ann', '400 console invalid_field'),
            ('event of no type', 'POST /console/events', {'cid': cid, 'events': [
                {'port_key': 'ser-0', 'event_type': 'xx', 'payload_text': 'a'}]}, 'ann', '400 console invalid_field'),
            ('snapshot without ports', 'POST /console/ports/snapshot', {'cid': cid}, 'ann', '400 console missing_field'),
            ('result for no command', 'POST ' + no_command, {'status': 'succeeded'}, 'ann', '404 console command_not_found'),
            ('result of no status', 'POST ' + no_command, {'status': 'done'}, 'ann', '400 console invalid_field'),
            ('command of an old session', 'POST ' + commands, command('open_port'), 'ann', '409 console session_expired'),
            ('unknown command', 'POST ' + commands, command('reboot'), 'ann', '400 console invalid_command'),
            ('hex that is not hex', 'POST ' + commands, command('send_hex', hex='0x zz'), 'ann', '400 console invalid_payload'),
            ('port config of an unknown parity', 'POST ' + commands,
             command('set_port_config', baud_rate=9600, data_bits=8, stop_bits=1.5, parity='sometimes'), 'ann',
             '400 console invalid_payload'),
            ('sync key with a space', 'PUT /sync/items/a%20b/c', item(0, {}), 'ann', '400 sync invalid_field'),
            ('sync payload not an object', 'PUT /sync/items/ns/k', item(0, [1]), 'ann', '400 sync invalid_field'),
            ('negative base revision', 'PUT /sync/items/ns/k', item(-1, {}), 'ann', '400 sync invalid_field'),
            ('malformed JSON', 'POST /account/login', b'{"email": ', None, '400 account malformed_json'),
            ('JSON that is not an object', 'POST /console/heartbeat', b'[1, 2]', 'ann', '400 console malformed_json'),
            ('unknown path', 'GET /nothing', None, None, '404 - not_found'),
            ('wrong method', 'DELETE /account/me', None, 'ann', '405 - method_not_allowed'),
            ('GET on a POST path', 'GET /account/login', None, None, '405 - method_not_allowed'),
            ('client report without cid', 'POST /clients', {'version': '1'}, None, '400 client missing_field'),
        ]
        for name, request, body, token, expected in rows:
            with self.subTest(name):
                raw = body if isinstance(body, bytes) else None
                status, answer, headers = self.service.api(*request.split(' '), None if raw else body, raw=raw,
                                                           token=self.ann.access if token == 'ann' else token)
                self.assertEqual('%d %s %s' % (status, answer.get('type', '-'), answer['code']), expected)
                self.assertIs(answer['status'], False)
                if status == 405:
                    self.assertIn('Allow', headers)
                if status == 401 and 'type' not in answer:
                    self.assertEqual(headers['WWW-Authenticate'], 'Bearer')

    def test_accounts_see_only_their_own(self):
        ann, bob = self.ann, self.bob
        self.assertEqual(ann.call('POST', '/console/ports/snapshot',
                                  {'cid': ann.cid, 'ports': [{'port_key': 'ser-9', 'title': 'ann only'}]})[0], 200)
        session = ann.on_device('POST', 'watch', {})[1]['session_id']
        status, answer, _ = ann.on_device('POST', 'commands', {'session_id': session, 'command': 'open_port',
                                                               'port_key': 'ser-9'})
        self.assertEqual(status, 201, answer)
        result = '/console/commands/%s/result' % answer['command']['command_id']
        ann.call('PUT', '/sync/items/private/k', {'base_revision': 0, 'payload': {'secret': 1}})
        device = '/console/devices/%s/' % ann.cid
        refused = [
            ('POST', '/console/heartbeat', {'cid': ann.cid}, 403),
            ('GET', '/console/commands/poll?cid=%s' % ann.cid, None, 403),
            ('POST', '/console/events', {'cid': ann.cid, 'events': []}, 403),
            ('POST', device + 'watch', {}, 403),
            ('GET', device + 'events?session_id=' + session, None, 403),
            ('GET', device + 'commands', None, 403),
            ('POST', device + 'commands', {'session_id': session, 'command': 'close_port', 'port_key': 'ser-9'}, 403),
            ('POST', result, {'status': 'succeeded'}, 404),
        ]
        for method, path, body, status in refused:
            with self.subTest(path=path):
                self.assertEqual(bob.call(method, path, body)[0], status)
        self.assertEqual([d['cid'] for d in bob.call('GET', '/console/devices')[1]['devices']], [bob.cid])
        self.assertEqual(bob.call('GET', '/sync/items')[1]['items'], [])
        # Bob binding Ann's device id gets a device of his own, not hers.
        self.assertEqual(bob.call('POST', '/account/devices/bind', {'cid': ann.cid})[0], 200)
        theirs = [d for d in bob.call('GET', '/console/devices')[1]['devices'] if d['cid'] == ann.cid]
        self.assertEqual(theirs[0]['ports'], [])
        # Ann's command is still hers to answer.
        self.assertEqual(ann.call('POST', result, {'status': 'succeeded'})[0], 200)
        ann.on_device('POST', 'unwatch', {})

    def test_a_second_service_on_the_same_database(self):
        # It finds the tables there already and the accounts in them.
        again = Service(database=self.service.database)
        self.addCleanup(again.stop)
        self.assertEqual(again.login('ann@example.com')[0], 200)

    def test_revision_conflict(self):
        put = lambda key, base, payload: self.ann.call('PUT', '/sync/items/settings.session/' + key,
                                                      {'base_revision': base, 'payload': payload})
        self.assertEqual(put('default', 0, {'n': 1})[1]['item']['revision'], 1)
        status, answer, _ = put('default', 0, {'n': 2})
        self.assertEqual((status, answer['status'], answer['code']), (409, False, 'revision_conflict'))
        self.assertEqual((answer['server_item']['revision'], answer['server_item']['payload']), (1, {'n': 1}))
        stored = put('default', 1, {'n': 3})[1]['item']
        self.assertEqual((stored['revision'], stored['payload']), (2, {'n': 3}))
        items = self.ann.call('GET', '/sync/items?namespace=settings.session')[1]['items']
        self.assertEqual([(i['item_key'], i['revision'], i['payload']) for i in items], [('default', 2, {'n': 3})])
        status, answer, _ = put('missing', 4, {})
        self.assertEqual((status, answer['server_item']), (409, {'namespace': 'settings.session',
                                                                 'item_key': 'missing', 'revision': 0}))

    def test_console_round_trip_and_replayed_command_ids(self):
        ann = self.ann
        poll = lambda: ann.call('GET', '/console/commands/poll?cid=%s&limit=16' % ann.cid)[1]
        upload = lambda events: ann.call('POST', '/console/events', {'cid': ann.cid, 'events': events})[1]['kept']
        events = [{'client_time': 1000 + i, 'port_key': 'ser-0' if i % 2 else 'tcpc-1', 'event_type': 'rx',
                   'payload_text': 'line %d\r\n' % i} for i in range(64)]
        self.assertIs(poll()['watching'], False)
        self.assertEqual(upload(events), 0)  # nobody watches
        watched = ann.on_device('POST', 'watch', {})[1]
        session = watched['session_id']
        self.assertIs(watched['device_told'], False)
        self.assertEqual((poll()['watching'], poll()['session_id']), (True, session))
        self.assertEqual(upload(events), 64)
        seen = ann.on_device('GET', 'events?session_id=%s&after=60&port_key=ser-0' % session)[1]
        self.assertIs(seen['device_told'], True)
        self.assertEqual([e['payload_text'] for e in seen['events']], ['line 61\r\n', 'line 63\r\n'])
        text = {'text': 'AT', 'line_ending': 'crlf'}
        status, queued, _ = ann.on_device('POST', 'commands', {'session_id': session, 'command': 'send_text',
                                                               'port_key': 'ser-0', 'payload': text})
        self.assertEqual(status, 201)
        command_id = queued['command']['command_id']
        self.assertEqual(poll()['commands'], [{'command_id': command_id, 'command': 'send_text', 'session_id': session,
                                               'port_key': 'ser-0', 'payload': text}])
        self.assertEqual(poll()['commands'], [])
        refusal = {'status': 'failed', 'message': 'remote send is disabled on the device',
                   'error_code': 'permission_denied'}
        result_path = '/console/commands/%s/result' % command_id
        self.assertEqual(ann.call('POST', result_path, refusal)[0], 200)
        status, answer, _ = ann.call('POST', result_path, {'status': 'succeeded'})
        self.assertEqual((status, answer['code']), (409, 'command_finished'))
        recent = ann.on_device('GET', 'events?session_id=%s&after=64' % session)[1]
        self.assertEqual(recent['events'], [])
        shown = [c for c in recent['recent_commands'] if c['command_id'] == command_id][0]
        self.assertEqual((shown['state'], shown['error_code'], shown['message']),
                         ('failed', refusal['error_code'], refusal['message']))
        self.assertEqual(poll()['commands'], [])
        ann.on_device('POST', 'unwatch', {})
        self.assertEqual((poll()['watching'], poll()['session_id']), (False, ''))
        # Watching again starts a new session without the old traffic.
        session = ann.on_device('POST', 'watch', {})[1]['session_id']
        self.assertEqual(ann.on_device('GET', 'events?session_id=%s' % session)[1]['events'], [])
        ann.on_device('POST', 'unwatch', {})

    def test_failed_logins_are_rate_limited(self):
        email = 'locked@example.com'
        self.assertEqual(self.service.add_user(email), 0)
        for _ in range(5):
            self.assertEqual(self.service.login(email, 'wrong password')[0], 401)
        status, answer, headers = self.service.login(email)
        self.assertEqual((status, answer['code']), (429, 'too_many_attempts'))
        self.assertGreater(answer['retry_after'], 0)
        self.assertEqual(headers['Retry-After'], str(answer['retry_after']))

    def test_registration_and_add_user(self):
        service, start = self.service, len(self.service.lines)
        ask = lambda email: service.api('POST', '/account/register/code', {'email': email})
        sent = lambda email: service.wait_for(r'registration code for %s: (\d{6})' % email, start=start).group(1)
        register = lambda email, code, **more: service.api('POST', '/account/register', dict(
            {'email': email, 'username': email.split('@')[0], 'password': PASSWORD, 'code': code}, **more))
        self.assertEqual(ask('carol@example.com')[0], 200)
        cid = new_cid()
        status, answer, _ = register('carol@example.com', sent('carol@example.com'), cid=cid)
        self.assertEqual((status, answer['user']['username'], answer['device']['cid']), (200, 'carol', cid))
        self.assertIn('access_token', answer)
        self.assertEqual((ask('dan@x.org')[0], ask('dan@x.org')[1]['code']), (200, 'too_many_requests'))
        # A code asked for an address that then gets an account elsewhere cannot take it over.
        ask('eve@example.com')
        code = sent('eve@example.com')
        self.assertEqual(service.add_user('eve@example.com'), 0)
        self.assertEqual(register('eve@example.com', code)[1]['code'], 'email_taken')
        # Asking for a code for an existing account answers alike but sends none.
        self.assertEqual(ask('ann@example.com')[0], 200)
        service.wait_for(r'ann@example.com, which already has an account; none sent', start=start)
        # From the command line: added once, then refused; a short password or a bad address is a usage error.
        for email, password, code in [('frank@example.com', PASSWORD, 0), ('frank@example.com', PASSWORD, 1),
                                      ('gina@example.com', 'short', 2), ('no address', PASSWORD, 2)]:
            self.assertEqual(service.add_user(email, password), code, email)
        self.assertEqual(service.login('frank@example.com')[0], 200)

    def test_body_limits_and_framing(self):
        big = b'{"cid": "' + b'a' * (1024 * 1024) + b'"}'
        status, answer, headers = self.service.api('POST', '/clients', raw=big)
        self.assertEqual((status, answer['code'], headers.get('Connection')), (413, 'payload_too_large', 'close'))
        # Exactly at the limit the request reaches its handler.
        padding = 1024 * 1024 - len(b'{"cid": "%s", "pad": ""}' % new_cid().encode())
        exact = b'{"cid": "%s", "pad": "%s"}' % (new_cid().encode(), b'p' * padding)
        self.assertEqual(len(exact), 1024 * 1024)
        self.assertEqual(self.service.api('POST', '/clients', raw=exact)[1]['code'], 'invalid_field')
        for request, status in [
                (b'POST /api/v3/clients HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n', 411),
                (b'GET / HTTP/1.1\r\nHost: x\r\nX-Big: ' + b'b' * 20000 + b'\r\n\r\n', 431),
                (b'POST /api/v3/clients HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n', 400),
                # Two requests in one read would be merged by the HTTP parser.
                (b'GET / HTTP/1.1\r\nHost: x\r\n\r\nGET /api/v3/nothing HTTP/1.1\r\nHost: x\r\n\r\n', 400)]:
            self.assertTrue(self.raw(request).startswith(b'HTTP/1.1 %d ' % status), status)
        self.assertEqual(self.service.call('GET', '/')[0], 200)


class TightLimits(ServiceTest):
    # Unfinished bodies are held up to 64 times the largest body at once.
    service_options = ('--access-token-ttl', '2', '--monthly-upload-limit', '100', '--max-body', '1024')

    def test_expiry_refresh_and_rotation(self):
        account = Account(self.service, 'tess@example.com')
        refresh = lambda token, **more: self.service.api('POST', '/account/token/refresh',
                                                         dict({'refresh_token': token}, **more))[:2]
        me = lambda token: self.service.api('GET', '/account/me', token=token)[:2]
        self.assertEqual(me(account.access)[0], 200)
        time.sleep(2.5)
        self.assertEqual(me(account.access)[1]['code'], 'token_expired')
        status, renewed = refresh(account.refresh, cid=account.cid)
        self.assertEqual((status, renewed['expires_in']), (200, 2))
        self.assertNotEqual(renewed['refresh_token'], account.refresh)
        self.assertEqual(me(renewed['access_token'])[0], 200)
        # The first refresh token again: somebody copied it, so the whole sign-in ends.
        self.assertEqual(refresh(account.refresh)[1]['code'], 'refresh_token_reused')
        self.assertEqual(me(renewed['access_token'])[1]['code'], 'invalid_token')
        self.assertEqual(refresh(renewed['refresh_token'])[1]['code'], 'invalid_refresh_token')

    def test_quota_stops_uploads(self):
        account = Account(self.service, 'quinn@example.com')
        event = {'port_key': 'ser-0', 'event_type': 'rx', 'payload_text': 'é' * 30}  # 60 bytes of UTF-8
        upload = lambda: account.call('POST', '/console/events', {'cid': account.cid, 'events': [event]})
        status, answer, _ = upload()
        self.assertEqual((status, answer['up_remaining']), (200, 40))
        status, answer, _ = upload()
        self.assertEqual((status, answer['status'], answer['code'], answer['up_remaining']),
                         (429, False, 'quota_exceeded', 40))
        quota = account.call('GET', '/cloud/quota')[1]
        self.assertEqual((quota['enforced'], quota['up']['used'], quota['up']['remaining']), (True, 60, 40))

    def test_unfinished_bodies_are_bounded(self):
        # The head arrives on its own, then the body.
        answer_to_head_then_body = lambda: self.raw(b'POST /api/v3/clients HTTP/1.1\r\nContent-Length: 2\r\n\r\n',
                                                    b'{}', pause=0.2)
        held = []
        try:
            for _ in range(64):
                held.append(socket.create_connection(('127.0.0.1', self.service.port), timeout=10))
                held[-1].sendall(b'POST /api/v3/clients HTTP/1.1\r\nContent-Length: 1024\r\n\r\n{')
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


class EndpointsOnPostgres(Endpoints):
    postgres = True


class TightLimitsOnPostgres(TightLimits):
    postgres = True


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
