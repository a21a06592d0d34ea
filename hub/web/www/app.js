// The web panel: keys, tally, takes, locks, status, salvos and journal over
// one WebSocket to the hub. The hub sends everything on connect ("hello")
// and every change after it ("update"); the page keeps only what it shows.
'use strict';

const $ = (id) => document.getElementById(id);
const S = {
  config: null, me: null, dest: new Map(), journal: new Map(), salvos: [], lines: [],
  nameSet: 0, selDest: -1, levels: new Set(), preset: -1, destPage: 0, srcPage: 0,
  ws: null, nextReq: 1, pending: new Map(), retryMs: 500, connected: false,
};
// For tests and measurements: what the page has painted.
window.__xel = { ready: false, updates: 0, painted: [], hellos: 0 };

function el(tag, attrs, text) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k === 'class') e.className = v; else if (k.startsWith('data-')) e.setAttribute(k, v); else e[k] = v;
  }
  if (text !== undefined) e.textContent = text;
  return e;
}
let sayTimer = 0;
function say(text, bad) {
  const m = $('message');
  m.textContent = text || '';
  m.classList.toggle('error', !!bad);
  // A confirmation fades after a while; an error stays until the next action.
  clearTimeout(sayTimer);
  if (text && !bad) sayTimer = setTimeout(() => { m.textContent = ''; }, 5000);
}
function pageSize() { return window.innerWidth < 600 ? 12 : window.innerWidth < 1100 ? 24 : 32; }
function setList(kind) {
  const set = S.config.nameSets[S.nameSet];
  if (set) return kind === 'd' ? set.destinations : set.sources;
  const n = kind === 'd' ? S.config.destinations.length : S.config.sources.length;
  return Array.from({ length: n }, (_, i) => i);
}
function srcName(i) { return i >= 0 ? S.config.sources[i] : 'none'; }
function destName(i) { return S.config.destinations[i].name; }

// ---- connection
function connect() {
  const ws = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/ws');
  S.ws = ws;
  ws.onmessage = (ev) => {
    let m;
    try { m = JSON.parse(ev.data); } catch (e) { return; }
    if (m.type === 'hello') hello(m);
    else if (m.type === 'update') update(m);
    else if (m.type === 'reply') {
      const p = S.pending.get(m.req);
      if (p) { S.pending.delete(m.req); p(m); }
    }
  };
  ws.onclose = async (ev) => {
    S.connected = false;
    for (const p of S.pending.values()) p({ ok: false, error: 'connection lost' });
    S.pending.clear();
    if (ev.code === 4001) { location.replace('/login.html'); return; }
    $('banner').hidden = false;
    // A page whose session is gone goes back to the sign-in.
    try {
      const r = await fetch('/api/state', { cache: 'no-store' });
      if (r.status === 401) { location.replace('/login.html'); return; }
    } catch (e) { /* the hub is away: try again */ }
    setTimeout(connect, S.retryMs);
    S.retryMs = Math.min(S.retryMs * 2, 4000);
  };
  ws.onopen = () => { S.retryMs = 500; };
}
function send(op, fields) {
  return new Promise((resolve) => {
    if (!S.ws || S.ws.readyState !== WebSocket.OPEN) { resolve({ ok: false, error: 'not connected' }); return; }
    const req = S.nextReq++;
    S.pending.set(req, resolve);
    S.ws.send(JSON.stringify(Object.assign({ op, req }, fields)));
  });
}
async function act(op, fields, done) {
  const r = await send(op, fields);
  if (!r.ok) say(r.error || 'refused', true);
  else say(done + (r.problem ? ' (' + r.problem + ')' : ''));
  return r;
}

function hello(m) {
  const first = !S.config;
  S.config = m.config; S.me = m.operator; S.salvos = m.salvos; S.lines = m.lines;
  S.dest = new Map(m.destinations.map((d) => [d.d, d]));
  S.journal = new Map(m.journal.map((e) => [e.id, e]));
  if (first) S.levels = new Set(S.config.levels.map((_, i) => i));
  if (S.nameSet >= S.config.nameSets.length) S.nameSet = 0;
  S.connected = true;
  $('banner').hidden = true;
  $('title').textContent = S.config.name || 'Router hub';
  $('who').textContent = S.me.name + (S.me.canChange ? '' : ' (view only)');
  document.body.classList.toggle('viewonly', !S.me.canChange);
  renderAll();
  watchSelected();
  window.__xel.hellos++;
  if (!window.__xel.readyAt) window.__xel.readyAt = performance.now();
  window.__xel.ready = true;
}
function update(m) {
  const t = performance.now();
  for (const d of m.destinations || []) {
    S.dest.set(d.d, d);
    renderStatusRow(d.d);
  }
  for (const e of m.journal || []) S.journal.set(e.id, e);
  if (m.lines) { S.lines = m.lines; renderLines(); }
  if (m.journal) renderJournal();
  if ((m.destinations || []).some((d) => d.d === S.selDest)) { renderTally(); renderDestInfo(); }
  window.__xel.updates++;
  const ds = (m.destinations || []).map((d) => d.d);
  requestAnimationFrame(() => {
    window.__xel.painted.push({ at: performance.timeOrigin + performance.now(), took: performance.now() - t, d: ds });
    if (window.__xel.painted.length > 200) window.__xel.painted.shift();
  });
}

// ---- rendering
function renderAll() {
  const sel = $('nameSet');
  sel.replaceChildren(...S.config.nameSets.map((n, i) => el('option', { value: i }, n.name)));
  if (!S.config.nameSets.length) sel.append(el('option', { value: 0 }, 'All'));
  sel.value = S.nameSet;
  renderLines(); renderDestKeys(); renderLevelKeys(); renderSrcKeys(); renderDestInfo(); renderPreset();
  renderStatus(); renderSalvos(); renderJournal();
}
function renderLines() {
  const lineState = (l) => l.state || (l.online ? 'online' : 'offline');
  const lineText = { online: 'Online', offline: 'Offline', dialling: 'Dialling…' };
  $('lines').replaceChildren(...S.lines.map((l) => el('span', { class: 'line ' + lineState(l), 'data-line': l.name },
    (S.lines.length > 1 ? l.name + ': ' : '') + (lineText[lineState(l)] || 'Offline'))));
}
function pager(id, count, page, set) {
  const pages = Math.max(1, Math.ceil(count / pageSize()));
  const p = $(id);
  p.replaceChildren();
  if (pages <= 1) return 0;
  page = Math.min(page, pages - 1);
  const prev = el('button', { class: 'small', disabled: page === 0 }, '‹');
  const next = el('button', { class: 'small', disabled: page === pages - 1 }, '›');
  prev.onclick = () => set(page - 1); next.onclick = () => set(page + 1);
  p.append(prev, el('span', {}, ' ' + (page + 1) + ' / ' + pages + ' '), next);
  return page;
}
function renderDestKeys() {
  const list = setList('d');
  S.destPage = pager('destPager', list.length, S.destPage, (p) => { S.destPage = p; renderDestKeys(); });
  const n = pageSize();
  $('destKeys').replaceChildren(...list.slice(S.destPage * n, S.destPage * n + n).map((d) => {
    const b = el('button', { class: 'key dest' + (d === S.selDest ? ' on' : ''), 'data-dest': d }, destName(d));
    const st = S.dest.get(d);
    if (st && st.locked) b.classList.add('locked');
    b.onclick = () => selectDest(d);
    return b;
  }));
}
function renderLevelKeys() {
  $('levelKeys').replaceChildren(...S.config.levels.map((name, l) => {
    const b = el('button', { class: 'key level' + (S.levels.has(l) ? ' on' : ''), 'data-level': l }, name);
    if (S.selDest >= 0 && !S.config.destinations[S.selDest].on[l]) b.classList.add('absent');
    b.onclick = () => { if (S.levels.has(l)) S.levels.delete(l); else S.levels.add(l); renderLevelKeys(); renderTally(); renderPreset(); };
    return b;
  }));
}
function renderSrcKeys() {
  const list = setList('s');
  S.srcPage = pager('srcPager', list.length, S.srcPage, (p) => { S.srcPage = p; renderSrcKeys(); });
  const n = pageSize();
  $('srcKeys').replaceChildren(...list.slice(S.srcPage * n, S.srcPage * n + n).map((s) => {
    const b = el('button', { class: 'key src', 'data-src': s }, S.config.sources[s]);
    b.onclick = () => pressSource(s);
    return b;
  }));
  renderTally();
}
// Lights the source routed to the selected destination on each selected level.
function renderTally() {
  const st = S.dest.get(S.selDest);
  const lit = new Set();
  if (st) for (const l of S.levels) if (st.src[l] !== null && st.src[l] >= 0) lit.add(st.src[l]);
  for (const b of $('srcKeys').children) {
    const s = Number(b.dataset.src);
    b.classList.toggle('tally', lit.has(s));
    b.classList.toggle('preset', s === S.preset);
  }
}
function levelText(st, l) {
  if (!st || st.src[l] === null) return '…';
  if (st.src[l] >= 0) return srcName(st.src[l]);
  return st.in[l] > 0 ? 'input ' + st.in[l] : 'none';
}
function renderDestInfo() {
  const box = $('destInfo');
  box.replaceChildren();
  if (S.selDest < 0) { box.append(el('span', { class: 'muted' }, 'Select a destination.')); return; }
  const st = S.dest.get(S.selDest);
  box.append(el('strong', { id: 'selName' }, destName(S.selDest)));
  const lock = el('span', { id: 'lockState', class: 'lockstate' });
  if (st && st.locked) {
    lock.textContent = 'Locked' + (st.owner ? ' by ' + st.owner.name : ' (at the router)');
    lock.classList.add('locked');
  } else lock.textContent = st && st.lockKnown ? 'Free' : 'Lock not read yet';
  box.append(lock);
  if (S.me.canChange) {
    const mine = st && st.locked && st.owner && st.owner.name === S.me.name;
    if (!st || !st.locked) {
      const b = el('button', { id: 'lock', class: 'small' }, 'Lock');
      b.onclick = () => act('lock', { destination: S.selDest, locked: true }, 'Lock sent');
      box.append(b);
    } else if (mine) {
      const b = el('button', { id: 'unlock', class: 'small' }, 'Unlock');
      b.onclick = () => act('lock', { destination: S.selDest, locked: false }, 'Unlock sent');
      box.append(b);
    } else if (S.me.forceRelease) {
      const b = el('button', { id: 'forceUnlock', class: 'small danger' }, 'Force release');
      b.onclick = () => { if (confirm('Force open the lock on ' + destName(S.selDest) + '?')) act('lock', { destination: S.selDest, locked: false, force: true }, 'Forced release sent'); };
      box.append(b);
    }
  }
  const routes = el('div', { class: 'routes' });
  S.config.levels.forEach((name, l) => {
    if (!S.config.destinations[S.selDest].on[l]) return;
    routes.append(el('span', { class: 'route' + (st && st.flag[l] ? ' flag' : '') }, name + ': ' + levelText(st, l)));
  });
  box.append(routes);
}
function renderPreset() {
  const show = $('presetMode').checked && S.preset >= 0 && S.selDest >= 0;
  $('preset').hidden = !show;
  if (show) {
    const lv = [...S.levels].sort().map((l) => S.config.levels[l]).join(', ');
    $('presetText').textContent = 'Preset: ' + srcName(S.preset) + ' → ' + destName(S.selDest) + (lv ? ' (' + lv + ')' : ' (no level)');
  }
  renderTally();
}
function renderStatus() {
  const head = el('tr');
  head.append(el('th', {}, 'Destination'), ...S.config.levels.map((l) => el('th', {}, l)), el('th', {}, 'Lock'));
  $('statusTable').tHead.replaceChildren(head);
  $('statusTable').tBodies[0].replaceChildren(...setList('d').map((d) => {
    const tr = el('tr', { id: 'row-' + d, 'data-dest': d });
    tr.onclick = () => selectDest(d);
    fillRow(tr, d);
    return tr;
  }));
}
function fillRow(tr, d) {
  const st = S.dest.get(d);
  const cells = [el('td', { class: 'name' }, destName(d))];
  S.config.levels.forEach((_, l) => {
    const on = S.config.destinations[d].on[l];
    const td = el('td', { class: 'lv' }, on ? levelText(st, l) : '');
    if (st && st.flag[l]) td.classList.add('flag');
    if (st && st.un[l]) td.classList.add('unconfirmed');
    cells.push(td);
  });
  const lk = el('td', { class: 'lk' }, st && st.locked ? (st.owner ? st.owner.name : 'Locked') : '');
  if (st && st.locked) lk.classList.add('locked');
  cells.push(lk);
  tr.replaceChildren(...cells);
  tr.classList.toggle('on', d === S.selDest);
}
function renderStatusRow(d) {
  const tr = document.getElementById('row-' + d);
  if (tr) fillRow(tr, d);
  const key = document.querySelector('#destKeys [data-dest="' + d + '"]');
  if (key) { const st = S.dest.get(d); key.classList.toggle('locked', !!(st && st.locked)); }
}
function renderSalvos() {
  const ul = $('salvoList');
  if (!S.salvos.length) { ul.replaceChildren(el('li', { class: 'muted' }, 'No salvos in the hub\'s salvo folder.')); return; }
  ul.replaceChildren(...S.salvos.map((name) => {
    const b = el('button', { class: 'key salvo', 'data-salvo': name }, name);
    b.onclick = () => showSalvo(name);
    const li = el('li'); li.append(b); return li;
  }));
}
const STATE_TEXT = { queued: 'queued', sent: 'sent', acknowledged: 'acknowledged', refused: 'refused', failed: 'failed', confirmed: 'confirmed', contradicted: 'contradicted' };
function renderJournal() {
  const rows = [...S.journal.values()].sort((a, b) => b.id - a.id).slice(0, 100);
  $('journalTable').tBodies[0].replaceChildren(...rows.map((e) => {
    const tr = el('tr', { id: 'entry-' + e.id, 'data-state': e.state });
    const when = new Date(e.at).toLocaleTimeString();
    tr.append(el('td', { class: 'muted' }, '#' + e.id + ' ' + when), el('td', {}, e.who));
    const what = el('td', {}, (e.undoOf ? 'Undo of #' + e.undoOf + ': ' : '') + e.summary);
    if (e.replaced.length) what.append(el('div', { class: 'muted' }, 'was ' + e.replaced.join(', ')));
    if (e.note) what.append(el('div', { class: 'muted' }, e.note));
    tr.append(what, el('td', { class: 'state ' + e.state }, STATE_TEXT[e.state] || e.state));
    const cell = el('td');
    if (e.undoable && S.me.canChange) {
      const b = el('button', { class: 'small undo', 'data-undo': e.id }, 'Undo');
      b.onclick = () => act('undo', { id: e.id }, 'Undo of #' + e.id + ' sent');
      cell.append(b);
    }
    tr.append(cell);
    return tr;
  }));
}

// ---- actions
function watchSelected() {
  if (S.selDest >= 0) send('watch', { destinations: [S.selDest] });
}
function selectDest(d) {
  S.selDest = d;
  for (const b of $('destKeys').children) b.classList.toggle('on', Number(b.dataset.dest) === d);
  for (const tr of $('statusTable').tBodies[0].rows) tr.classList.toggle('on', Number(tr.dataset.dest) === d);
  renderLevelKeys(); renderTally(); renderDestInfo(); renderPreset();
  watchSelected();
}
function takeLevels() {
  return [...S.levels].filter((l) => S.config.destinations[S.selDest].on[l] && S.config.sourceLevels[S.preset][l]);
}
async function pressSource(s) {
  if (S.selDest < 0) { say('Select a destination first.', true); return; }
  S.preset = s;
  if ($('presetMode').checked) { renderPreset(); return; }
  await doTake();
}
async function doTake() {
  const levels = takeLevels();
  if (!levels.length) { say(srcName(S.preset) + ' cannot go to ' + destName(S.selDest) + ' on the selected levels.', true); return; }
  const r = await act('take', { destination: S.selDest, source: S.preset, levels }, 'Take sent: ' + srcName(S.preset) + ' → ' + destName(S.selDest));
  if (r.ok) { S.preset = -1; renderPreset(); }
}
async function showSalvo(name) {
  const r = await send('salvoShow', { name });
  if (!r.ok) { say(r.error, true); return; }
  $('salvoTitle').textContent = 'Salvo ' + r.name;
  const t = $('salvoRoutes');
  const head = el('tr');
  head.append(el('th', {}, 'Destination'), ...S.config.levels.map((l) => el('th', {}, l)));
  t.replaceChildren(head, ...r.routes.map((rt) => {
    const tr = el('tr');
    tr.append(el('td', {}, rt.destination), ...rt.sources.map((s) => el('td', {}, s || '')));
    return tr;
  }));
  $('salvoFire').disabled = !S.me.canChange;
  $('salvoFire').onclick = async () => { $('salvoDialog').close(); await act('salvo', { name }, 'Salvo ' + name + ' fired'); };
  $('salvoDialog').showModal();
}

$('nameSet').onchange = () => { S.nameSet = Number($('nameSet').value); S.destPage = 0; S.srcPage = 0; renderDestKeys(); renderSrcKeys(); renderStatus(); };
$('allLevels').onclick = () => { S.levels = new Set(S.config.levels.map((_, i) => i)); renderLevelKeys(); renderTally(); renderPreset(); };
$('noLevels').onclick = () => { S.levels.clear(); renderLevelKeys(); renderTally(); renderPreset(); };
$('presetMode').onchange = () => { S.preset = -1; renderPreset(); };
$('take').onclick = () => doTake();
$('cancelPreset').onclick = () => { S.preset = -1; renderPreset(); };
$('salvoCancel').onclick = () => $('salvoDialog').close();
$('signout').onclick = async () => {
  await fetch('/api/logout', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '{}' });
  location.replace('/login.html');
};
for (const t of document.querySelectorAll('.tab')) {
  t.onclick = () => {
    for (const o of document.querySelectorAll('.tab')) o.classList.toggle('on', o === t);
    for (const p of document.querySelectorAll('.tabpage')) p.hidden = p.id !== 'tab-' + t.dataset.tab;
  };
}
let resizeTimer = 0;
window.addEventListener('resize', () => {
  clearTimeout(resizeTimer);
  resizeTimer = setTimeout(() => { if (S.config) { renderDestKeys(); renderSrcKeys(); } }, 150);
});
// The hub keeps the selected destination fresh while the page looks at it.
setInterval(() => { if (S.connected) watchSelected(); }, 3000);
connect();
