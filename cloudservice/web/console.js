'use strict';
// The browser side of the cloud console: sign-in, the devices with their ports, and
// one watched port with its live traffic and commands. Talks only to this service.

const API = '/api/v3';
const POLL_MS = 1000;          // traffic of the watched device
const DEVICES_MS = 5000;       // device list and port snapshots
const MAX_LINES = 2000;

const state = {
  access: '',
  refresh: sessionStorage.getItem('qc.refresh') || '',
  user: null,
  devices: [],
  watch: null,                 // {cid, portKey, sessionId, after, title}
  commands: new Map(),         // command_id -> command, newest session only
  timers: [],
};

const $ = (id) => document.getElementById(id);

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function show(id, visible) { $(id).hidden = !visible; }

// ---- REST calls ---------------------------------------------------------------

async function request(method, path, body) {
  const headers = {};
  if (state.access) headers.Authorization = 'Bearer ' + state.access;
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  const response = await fetch(API + path, {
    method, headers, body: body === undefined ? undefined : JSON.stringify(body), cache: 'no-store',
  });
  let data = {};
  try { data = await response.json(); } catch (e) { data = {}; }
  return { status: response.status, data };
}

// Calls with the access token, renewing it once through the refresh token when the
// service says it is no longer valid.
async function api(method, path, body) {
  let answer = await request(method, path, body);
  if (answer.status === 401 && state.refresh) {
    if (await renew()) answer = await request(method, path, body);
  }
  if (answer.status === 401) signedOut('Your sign-in has ended. Please sign in again.');
  return answer;
}

function keepTokens(data) {
  state.access = data.access_token;
  state.refresh = data.refresh_token;
  state.user = data.user;
  sessionStorage.setItem('qc.refresh', state.refresh);
}

let renewing = null;
function renew() {
  // One refresh at a time: the service ends a sign-in whose refresh token is used twice.
  if (!renewing) {
    renewing = request('POST', '/account/token/refresh', { refresh_token: state.refresh })
      .then((answer) => {
        if (answer.status === 200 && answer.data.access_token) { keepTokens(answer.data); return true; }
        state.refresh = '';
        sessionStorage.removeItem('qc.refresh');
        return false;
      })
      .catch(() => false)
      .finally(() => { renewing = null; });
  }
  return renewing;
}

// ---- sign-in ------------------------------------------------------------------

async function signIn(event) {
  event.preventDefault();
  $('signin-error').textContent = '';
  $('signin-button').disabled = true;
  try {
    const answer = await request('POST', '/account/login',
      { email: $('email').value.trim(), password: $('password').value });
    if (answer.status === 200 && answer.data.access_token) {
      keepTokens(answer.data);
      $('password').value = '';
      signedIn();
    } else {
      $('signin-error').textContent = answer.data.description || 'Sign-in failed.';
    }
  } catch (e) {
    $('signin-error').textContent = 'The service cannot be reached.';
  } finally {
    $('signin-button').disabled = false;
  }
}

function signedIn() {
  $('user-label').textContent = state.user ? (state.user.email || state.user.username) : '';
  show('account', true);
  show('signin', false);
  show('devices', true);
  loadDevices();
  state.timers.push(setInterval(loadDevices, DEVICES_MS));
}

function signedOut(message) {
  state.timers.forEach(clearInterval);
  state.timers = [];
  stopWatching(false);
  state.access = '';
  state.refresh = '';
  state.user = null;
  sessionStorage.removeItem('qc.refresh');
  $('user-label').textContent = '';
  show('account', false);
  show('devices', false);
  show('console-panel', false);
  show('signin', true);
  $('signin-error').textContent = message || '';
}

async function signOut() {
  const refresh = state.refresh;
  if (state.watch) await stopWatching(true);
  try { await request('POST', '/account/logout', { refresh_token: refresh }); } catch (e) { /* gone anyway */ }
  signedOut('');
}

// ---- devices ------------------------------------------------------------------

function formatBytes(n) {
  if (typeof n !== 'number') return '–';
  if (n < 1024) return n + ' B';
  if (n < 1024 * 1024) return (n / 1024).toFixed(1) + ' KiB';
  return (n / 1024 / 1024).toFixed(1) + ' MiB';
}

async function loadDevices() {
  let answer;
  try { answer = await api('GET', '/console/devices'); } catch (e) { return; }
  if (answer.status !== 200) return;
  state.devices = answer.data.devices || [];
  renderDevices();
  $('devices-updated').textContent = 'Updated ' + new Date().toLocaleTimeString();
  if (state.watch) renderPortState();
}

function renderDevices() {
  const list = $('device-list');
  list.replaceChildren();
  show('no-devices', state.devices.length === 0);
  for (const device of state.devices) {
    const card = el('article', 'card device');
    card.dataset.cid = device.cid;
    const head = el('div', 'device-head');
    head.append(el('h3', '', device.device_name || device.hostname || device.cid));
    head.append(el('span', device.online ? 'badge online' : 'badge offline', device.online ? 'online' : 'offline'));
    if (device.watched) head.append(el('span', 'badge watched', 'watched'));
    card.append(head);
    const facts = [device.hostname, device.client_version && 'Quillon ' + device.client_version,
      device.last_seen && 'last seen ' + new Date(device.last_seen).toLocaleString()].filter(Boolean);
    card.append(el('p', 'hint', facts.join(' · ')));
    const ports = device.ports || [];
    if (ports.length === 0) {
      card.append(el('p', 'hint', 'No port snapshot yet.'));
    } else {
      const table = el('table', 'ports');
      const header = el('tr');
      for (const title of ['Port', 'Connection', 'State', 'Baud', 'RX', 'TX', '']) header.append(el('th', '', title));
      const thead = el('thead');
      thead.append(header);
      table.append(thead);
      const body = el('tbody');
      for (const port of ports) {
        const row = el('tr', 'port-row');
        row.dataset.portKey = port.port_key;
        row.append(el('td', 'mono', port.port_key));
        row.append(el('td', '', port.display_name || port.title || ''));
        row.append(el('td', port.is_open ? 'open' : 'closed', port.is_open ? 'open' : 'closed'));
        row.append(el('td', '', port.baud_rate ? String(port.baud_rate) : '–'));
        row.append(el('td', '', formatBytes(port.rx_bytes)));
        row.append(el('td', '', formatBytes(port.tx_bytes)));
        const cell = el('td');
        const button = el('button', 'watch-button small', 'Watch');
        button.type = 'button';
        button.addEventListener('click', () => startWatching(device, port));
        cell.append(button);
        row.append(cell);
        body.append(row);
      }
      table.append(body);
      card.append(table);
    }
    list.append(card);
  }
}

// ---- watching -----------------------------------------------------------------

function currentPort() {
  if (!state.watch) return null;
  const device = state.devices.find((d) => d.cid === state.watch.cid);
  return device ? (device.ports || []).find((p) => p.port_key === state.watch.portKey) || null : null;
}

function renderPortState() {
  const port = currentPort();
  if (!port) { $('port-state').textContent = 'The port is not in the latest snapshot.'; return; }
  const caps = port.capabilities || [];
  $('port-state').textContent = (port.is_open ? 'Open' : 'Closed')
    + (port.baud_rate ? ', ' + port.baud_rate + ' baud' : '')
    + (caps.length ? ' · accepts ' + caps.join(', ') : '');
}

async function startWatching(device, port) {
  await stopWatching(true);
  const answer = await api('POST', '/console/devices/' + encodeURIComponent(device.cid) + '/watch', {});
  if (answer.status !== 200) { alert(answer.data.description || 'Could not watch this device.'); return; }
  state.watch = { cid: device.cid, portKey: port.port_key, sessionId: answer.data.session_id, after: 0,
    title: port.port_key + ' on ' + (device.device_name || device.hostname || device.cid) };
  state.commands.clear();
  $('watch-title').textContent = state.watch.title;
  $('traffic').replaceChildren();
  $('command-list').replaceChildren();
  show('console-panel', true);
  setStatus(answer.data.device_told);
  renderPortState();
  state.watch.timer = setInterval(pollTraffic, POLL_MS);
  pollTraffic();
  $('console-panel').scrollIntoView({ behavior: 'smooth', block: 'start' });
}

async function stopWatching(tellService) {
  const watch = state.watch;
  if (!watch) return;
  clearInterval(watch.timer);
  state.watch = null;
  show('console-panel', false);
  if (tellService) {
    try { await api('POST', '/console/devices/' + encodeURIComponent(watch.cid) + '/unwatch', {}); } catch (e) { /* ignore */ }
  }
}

function setStatus(told) {
  $('watch-status').textContent = told
    ? 'Live: the device uploads this port\u2019s traffic every 2 seconds.'
    : 'Waiting for the device to notice (it polls at least every 30 seconds while idle)\u2026';
  $('watch-status').className = told ? 'status live' : 'status waiting';
}

let polling = false;
async function pollTraffic() {
  const watch = state.watch;
  if (!watch || polling) return;
  polling = true;
  try {
    const path = '/console/devices/' + encodeURIComponent(watch.cid) + '/events?session_id='
      + encodeURIComponent(watch.sessionId) + '&after=' + watch.after + '&port_key=' + encodeURIComponent(watch.portKey);
    const answer = await api('GET', path);
    if (state.watch !== watch) return;
    if (answer.status === 409) {
      // The session lapsed (for instance while the tab slept): start a new one.
      const again = await api('POST', '/console/devices/' + encodeURIComponent(watch.cid) + '/watch', {});
      if (again.status === 200) { watch.sessionId = again.data.session_id; watch.after = 0; }
      return;
    }
    if (answer.status !== 200) return;
    const data = answer.data;
    setStatus(data.device_told);
    for (const event of data.events || []) {
      appendEvent(event);
      watch.after = Math.max(watch.after, event.seq);
    }
    for (const command of data.recent_commands || []) state.commands.set(command.command_id, command);
    renderCommands();
  } catch (e) {
    $('watch-status').textContent = 'The service cannot be reached; retrying\u2026';
  } finally {
    polling = false;
  }
}

function printable(text) {
  if ($('show-hex').checked) {
    return Array.from(new TextEncoder().encode(text), (b) => b.toString(16).padStart(2, '0')).join(' ');
  }
  // The line ending that closes an event is the line break itself; other control
  // characters are shown as escapes.
  return text.replace(/(\r\n|\r|\n)$/, '')
    .replace(/[\x00-\x08\x0b-\x1f\x7f]/g, (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0'));
}

function appendEvent(event) {
  const traffic = $('traffic');
  const line = el('div', 'event ' + (event.event_type === 'tx' ? 'tx' : 'rx'));
  line.dataset.seq = event.seq;
  const when = event.server_time ? new Date(event.server_time).toLocaleTimeString() : '';
  line.append(el('span', 'when', when));
  line.append(el('span', 'dir', event.event_type === 'tx' ? 'TX' : 'RX'));
  line.append(el('span', 'text', printable(event.payload_text || '')));
  traffic.append(line);
  while (traffic.childElementCount > MAX_LINES) traffic.firstElementChild.remove();
  traffic.scrollTop = traffic.scrollHeight;
}

function describeCommand(command) {
  const p = command.payload || {};
  switch (command.command) {
    case 'send_text': return 'send text \u201c' + (p.text || '') + '\u201d';
    case 'send_hex': return 'send hex ' + (p.hex || '');
    case 'set_port_config': return 'set ' + Object.entries(p).map(([k, v]) => k + '=' + v).join(', ');
    default: return command.command.replace(/_/g, ' ');
  }
}

function renderCommands() {
  const body = $('command-list');
  body.replaceChildren();
  const list = Array.from(state.commands.values()).sort((a, b) => (a.created_at < b.created_at ? 1 : -1));
  for (const command of list) {
    const row = el('tr', 'command state-' + command.state);
    row.dataset.commandId = command.command_id;
    row.append(el('td', '', command.created_at ? new Date(command.created_at).toLocaleTimeString() : ''));
    row.append(el('td', 'mono', describeCommand(command)));
    row.append(el('td', 'state', command.state));
    let result = command.message || '';
    if (command.error_code === 'permission_denied') result = 'Refused by the device: ' + result;
    else if (command.error_code) result = result + ' (' + command.error_code + ')';
    if (command.state === 'queued') result = 'waiting for the device to poll';
    if (command.state === 'expired') result = 'the device did not answer';
    row.append(el('td', 'result', result));
    body.append(row);
  }
}

async function sendCommand(command, payload) {
  const watch = state.watch;
  if (!watch) return;
  const body = { session_id: watch.sessionId, command, port_key: watch.portKey, payload: payload || {} };
  const answer = await api('POST', '/console/devices/' + encodeURIComponent(watch.cid) + '/commands', body);
  if (answer.status === 201 && answer.data.command) {
    state.commands.set(answer.data.command.command_id, answer.data.command);
    renderCommands();
  } else {
    alert(answer.data.description || 'The command was not accepted.');
    if (answer.status === 409) pollTraffic();
  }
}

function sendData(event) {
  event.preventDefault();
  const text = $('send-text').value;
  if (!text) return;
  if ($('send-mode').value === 'hex') sendCommand('send_hex', { hex: text });
  else sendCommand('send_text', { text, line_ending: $('line-ending').value });
  $('send-text').value = '';
}

function applyConfig(event) {
  event.preventDefault();
  sendCommand('set_port_config', {
    baud_rate: Number($('baud-rate').value),
    data_bits: Number($('data-bits').value),
    parity: $('parity').value,
    stop_bits: Number($('stop-bits').value),
    flow_control: $('flow-control').value,
  });
}

// ---- start --------------------------------------------------------------------

function start() {
  $('signin-form').addEventListener('submit', signIn);
  $('signout-button').addEventListener('click', signOut);
  $('unwatch-button').addEventListener('click', () => stopWatching(true));
  $('send-form').addEventListener('submit', sendData);
  $('config-form').addEventListener('submit', applyConfig);
  $('open-button').addEventListener('click', () => sendCommand('open_port'));
  $('close-button').addEventListener('click', () => sendCommand('close_port'));
  $('snapshot-button').addEventListener('click', () => sendCommand('request_snapshot'));
  $('clear-button').addEventListener('click', () => $('traffic').replaceChildren());
  $('send-mode').addEventListener('change', () => { $('line-ending').disabled = $('send-mode').value === 'hex'; });
  window.addEventListener('pagehide', () => { if (state.watch) stopWatching(true); });
  if (state.refresh) {
    renew().then((ok) => (ok ? signedIn() : signedOut('')));
  }
}

start();
