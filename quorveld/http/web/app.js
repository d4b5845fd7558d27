// The page: the board's fields from /api/v1/fields, edited and applied with
// one PATCH of the fields the operator changed and the values they were seen
// with, so that a change made elsewhere meanwhile is refused, not overwritten.
// Other clients' changes arrive as server-sent events (/api/v1/events); the
// fields are read again only when their version moves. Without the stream,
// /api/v1/status is polled every 5 s. An absent board's last-known values
// stay, dimmed; a field never read shows as unknown and is sent only once
// the operator sets it.
'use strict';

// Programme type codes 0-31 of the RDS (Europe): IEC 62106, formerly
// EN 50067:1998, Annex F.
const PTY_NAMES = [
  'No programme type', 'News', 'Current affairs', 'Information', 'Sport', 'Education',
  'Drama', 'Culture', 'Science', 'Varied', 'Pop music', 'Rock music', 'Easy listening',
  'Light classical', 'Serious classical', 'Other music', 'Weather', 'Finance',
  'Children\'s programmes', 'Social affairs', 'Religion', 'Phone-in', 'Travel', 'Leisure',
  'Jazz music', 'Country music', 'National music', 'Oldies music', 'Folk music',
  'Documentary', 'Alarm test', 'Alarm',
];
// PI code, second hex digit: the area the programme covers.
const PI_AREAS = ['local', 'international', 'national', 'supra-regional'];
// DI bits d0-d3.
const DI_BITS = [['mono', 'stereo'], ['', 'artificial head'], ['', 'compressed'], ['static PTY', 'dynamic PTY']];

const number = (v) => /^\s*\d+\s*$/.test(v) ? Number(v) : NaN;

const MEANINGS = {
  ps: (v) => `${[...v].length} of 8 characters`,
  rt: (v) => `${[...v].length} of 64 characters`,
  pty: (v) => PTY_NAMES[number(v)] || 'a code of 0-31',
  tp: (v) => v === '1' ? 'traffic programme: carries traffic announcements' : 'no traffic announcements',
  ta: (v, get) => v !== '1' ? 'no traffic announcement now'
    : get('tp') === '1' ? 'traffic announcement on air now'
      : 'with TP 0: points to another programme\'s traffic announcements',
  ms: (v) => v === '1' ? 'music' : 'speech',
  di: (v) => {
    const n = number(v);
    if (!(n >= 0 && n <= 15)) return 'bits: stereo, artificial head, compressed, dynamic PTY';
    return DI_BITS.map((names, bit) => names[(n >> bit) & 1]).filter(Boolean).join(', ');
  },
  pi: (v) => {
    const m = /^\s*(?:0x)?([0-9a-f])([0-9a-f])([0-9a-f]{2})\s*$/i.exec(v);
    if (!m) return 'four hex digits: country, area, programme';
    const area = parseInt(m[2], 16);
    return `country ${m[1].toUpperCase()}, ${area < 4 ? PI_AREAS[area] : `regional ${area - 3}`}, programme ${m[3].toUpperCase()}`;
  },
  naf: (v, get) => {
    const n = number(v);
    if (!(n >= 0 && n <= 25)) return '0-25 frequencies';
    const list = [];
    for (let i = 0; i < n; i++) list.push(get(`af${String(i).padStart(2, '0')}`));
    return n === 0 ? 'no alternative frequency' : `${n} in use: ${list.join(', ')} MHz`;
  },
  af: (v, get, index) => index < number(get('naf')) ? 'MHz, in use' : 'not in use',
  group2a: (v) => number(v) === 0 ? 'no RadioText'
    : Number.isNaN(number(v)) ? '0-255' : `a RadioText group (2A) after every ${number(v)} PS groups (0A)`,
  stereo: (v) => Number.isNaN(number(v)) ? '0-255' : 'mono/stereo: selects the internal or the external clock',
};

const LABELS = {
  ps: 'PS name', rt: 'RadioText', pty: 'PTY', tp: 'TP', ta: 'TA', ms: 'MS', di: 'DI',
  pi: 'PI code', naf: 'Used AFs', group2a: '2A group', stereo: 'Stereo/mono',
};
const FLAGS = ['tp', 'ta', 'ms'];
const COMMON = ['ps', 'rt', 'pty', 'tp', 'ta', 'ms', 'di'];
const AFS = Array.from({ length: 25 }, (_, i) => `af${String(i).padStart(2, '0')}`);

const rows = {}; // field name -> {input, meaning, error, row, key, index, unask}
let held = {};    // what the board holds
let pending = {}; // asked for, not yet on the board
let asked = {};   // asked for and kept: written again after a replug or restart
let base = {};    // the known value each field shows (pending, else held); undefined: unknown
let lastKnown = {}; // fields the board is not known to hold now: the last it held
let edits = {};   // field name -> {from: base when the operator began editing it}
let version = null;
let boardState = null; // the board's state as the last event or status told it
let status = {};
const POLL_MS = 5000;

const $ = (id) => document.getElementById(id);
const known = (value) => value !== undefined && value !== null;
const text = (value) => known(value) ? String(value) : undefined;

// The input's value; null while it shows an unknown value the operator has not set.
function inputValue(name) {
  const { input } = rows[name];
  if (input.type === 'checkbox') return input.indeterminate ? null : (input.checked ? '1' : '0');
  if (input.value === '' && base[name] === undefined && !(name in edits)) return null;
  return input.value;
}

// Shows `value`, or, for undefined, that the value is unknown.
function setInput(name, value) {
  const { input, row } = rows[name];
  if (input.type === 'checkbox') {
    input.indeterminate = value === undefined;
    input.checked = value === '1';
  } else {
    input.value = value === undefined ? '' : value;
    input.placeholder = value === undefined ? 'unknown' : '';
  }
  row.classList.toggle('unknown', value === undefined);
}

// Sent by Apply: each field the operator edited whose value differs from
// the known value shown when the edit began; an unknown one once set.
function edited(name) {
  if (!(name in edits)) return false;
  const value = inputValue(name);
  if (value === null || (value === '' && edits[name].from === undefined)) return false;
  return value !== edits[name].from;
}

function addRow(section, store, key, index) {
  const name = `${store}.${key}`;
  const row = document.createElement('div');
  row.className = key.startsWith('af') && key !== 'af' ? 'row af' : `row ${key}`;
  row.id = `row-${name}`;
  const label = document.createElement('label');
  label.htmlFor = `f-${name}`;
  label.textContent = LABELS[key] || key.toUpperCase();
  const input = document.createElement('input');
  input.id = `f-${name}`;
  input.name = name;
  if (FLAGS.includes(key)) {
    input.type = 'checkbox';
  } else {
    input.type = 'text';
    if (key === 'ps' || key === 'rt') {
      input.maxLength = key === 'ps' ? 8 : 64;
      input.spellcheck = false;
    } else {
      input.inputMode = key === 'pi' ? 'text' : 'decimal';
    }
  }
  const meaning = document.createElement('span');
  meaning.className = 'meaning';
  const error = document.createElement('span');
  error.className = 'error';
  error.id = `e-${name}`;
  const conflict = document.createElement('div');
  conflict.className = 'conflict';
  conflict.id = `c-${name}`;
  conflict.hidden = true;
  const unask = document.createElement('button');
  unask.type = 'button';
  unask.className = 'unask';
  unask.id = `u-${name}`;
  unask.textContent = 'Stop asking';
  unask.title = 'The daemon writes this value again after every replug and restart. '
    + 'Stop asking for it: the board keeps what it holds.';
  unask.hidden = true;
  unask.addEventListener('click', () => stopAsking(name));
  row.append(label, input, meaning, unask, error, conflict);
  section.append(row);
  rows[name] = { input, meaning, error, row, key: index === undefined ? key : 'af', index, store, unask, conflict };
  input.addEventListener('input', () => {
    if (!(name in edits)) edits[name] = { from: base[name] };
    explain(store);
    markEdits();
  });
}

function build() {
  for (const key of COMMON) addRow($('ram'), 'ram', key);
  for (const key of COMMON) addRow($('eeprom'), 'eeprom', key);
  addRow($('eeprom'), 'eeprom', 'pi');
  addRow($('eeprom'), 'eeprom', 'naf');
  const grid = document.createElement('div');
  grid.className = 'afs';
  $('eeprom').append(grid);
  AFS.forEach((key, index) => addRow(grid, 'eeprom', key, index));
  addRow($('eeprom'), 'eeprom', 'group2a');
  addRow($('eeprom'), 'eeprom', 'stereo');

  const table = document.createElement('details');
  const summary = document.createElement('summary');
  summary.textContent = 'PTY codes (RDS, Europe: IEC 62106, formerly EN 50067, Annex F)';
  const list = document.createElement('ol');
  list.start = 0;
  PTY_NAMES.forEach((ptyName) => {
    const item = document.createElement('li');
    item.textContent = ptyName;
    list.append(item);
  });
  table.append(summary, list);
  $('eeprom').append(table);
}

function explain(store) {
  const get = (key) => rows[`${store}.${key}`] ? inputValue(`${store}.${key}`) ?? '' : '';
  for (const name in rows) {
    const r = rows[name];
    if (r.store !== store) continue;
    const value = inputValue(name);
    r.meaning.textContent = value === null ? 'unknown: not read from the board'
      : MEANINGS[r.key](value, get, r.index);
    if (r.index !== undefined) r.row.classList.toggle('unused', !(r.index < number(get('naf'))));
  }
}

function markEdits() {
  for (const name in rows) rows[name].row.classList.toggle('edited', edited(name));
}

// HH:MM in the browser's time zone.
const clock = (iso) => {
  const when = new Date(iso);
  const two = (n) => String(n).padStart(2, '0');
  return Number.isNaN(when.getTime()) ? iso || '' : `${two(when.getHours())}:${two(when.getMinutes())}`;
};
const quoted = (value) => known(value) ? `"${value}"` : 'an unknown value';

// Another client changed a field the operator is editing (or had edited when
// Apply was refused): theirs is shown, with the choice.
function showConflict(name, theirs, who) {
  const r = rows[name];
  if (!r) return;
  r.conflict.replaceChildren();
  const words = document.createElement('span');
  words.textContent = `Changed elsewhere to ${quoted(theirs)}${who ? ` (${who})` : ''}: `;
  const mine = document.createElement('button');
  mine.type = 'button';
  mine.textContent = 'Keep mine';
  mine.addEventListener('click', () => keepMine(name, theirs));
  const take = document.createElement('button');
  take.type = 'button';
  take.textContent = 'Take theirs';
  take.addEventListener('click', () => takeTheirs(name, theirs));
  r.conflict.append(words, mine, take);
  r.conflict.hidden = false;
  r.conflict.dataset.theirs = text(theirs) ?? '';
  r.row.classList.add('conflicted');
}

function clearConflict(name) {
  const r = rows[name];
  r.conflict.hidden = true;
  r.conflict.replaceChildren();
  delete r.conflict.dataset.theirs;
  r.row.classList.remove('conflicted');
}

// The operator's value stands against theirs: Apply sends it, seen as theirs.
function keepMine(name, theirs) {
  if (name in edits) edits[name].from = text(theirs);
  clearConflict(name);
  markEdits();
  if (!document.querySelector('.row.conflicted')) $('apply').click();
}

function takeTheirs(name, theirs) {
  delete edits[name];
  clearConflict(name);
  setInput(name, text(theirs));
  explain(rows[name].store);
  markEdits();
  say(`${name}: the value set elsewhere is kept.`);
}

// Fills the inputs from the daemon's fields; an input being edited keeps
// what was typed.
function fill() {
  for (const name in rows) {
    const stale = !(name in pending) && !known(held[name]) && known(lastKnown[name]);
    const shown = text(name in pending ? pending[name] : stale ? lastKnown[name] : held[name]);
    if (!(name in edits)) setInput(name, shown);
    else if (shown !== edits[name].from && shown !== inputValue(name)
             && rows[name].conflict.dataset.theirs !== (shown ?? '')) showConflict(name, shown);
    base[name] = shown;
    const r = rows[name];
    r.row.classList.toggle('pending', name in pending);
    r.row.classList.toggle('stale', stale);
    r.row.title = name in pending
      ? `Being written; the board holds ${quoted(held[name])}`
      : stale ? 'Last known: the board is not answering' : '';
    r.unask.hidden = !(name in asked);
  }
  explain('ram');
  explain('eeprom');
  markEdits();
}

function say(message, kind) {
  $('message').textContent = message;
  $('message').className = kind || '';
}

function clearErrors() {
  for (const name in rows) {
    rows[name].error.textContent = '';
    rows[name].row.classList.remove('refused');
  }
}

async function request(method, path, body) {
  const options = { method, headers: {}, credentials: 'same-origin', cache: 'no-store' };
  if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  let answer = {};
  try { answer = await response.json(); } catch (e) { /* not JSON */ }
  return { status: response.status, answer };
}

async function loadFields() {
  const { status, answer } = await request('GET', '/api/v1/fields');
  if (status !== 200) throw new Error(answer.error || `status ${status}`);
  held = answer.fields;
  pending = answer.pending;
  asked = answer.asked || {};
  lastKnown = answer.last_known || {};
  version = answer.version;
  fill();
  if ($('changes').open) loadChanges();
}

async function loadChanges() {
  const { status: code, answer } = await request('GET', '/api/v1/changes');
  const body = $('changes-list');
  body.replaceChildren();
  $('changes-note').textContent = code === 401 ? 'The password is needed to read the changes.'
    : code !== 200 ? `Not available (status ${code}).`
      : answer.changes.length === 0 ? 'No change asked yet.' : '';
  if (code !== 200) return;
  for (const c of answer.changes) {
    const tr = document.createElement('tr');
    const who = [c.door, c.client, c.user].filter(Boolean).join(' ');
    for (const cell of [new Date(c.time).toLocaleString(), c.field, text(c.from) ?? '(none)',
      text(c.to) ?? '(no longer asked)', who]) {
      const td = document.createElement('td');
      td.textContent = cell;
      tr.append(td);
    }
    body.append(tr);
  }
}

// The board's state in words, for the sticky status line.
function boardWords(s) {
  if (s.board === 'present') return `On air: board ${s.device}`;
  const since = `since ${clock(s.board_since)}`;
  const last = s.last_device ? ` (last at ${s.last_device})` : '';
  return s.board === 'absent' ? `Board absent ${since}${last}: last-known values shown, changes queued`
    : `Board not answering ${since}${last}: last-known values shown, changes queued`;
}

function showStatus(s) {
  status = s;
  boardState = s.board;
  const board = $('st-board');
  board.textContent = boardWords(s);
  board.className = s.board.replace(/ /g, '-');
  document.body.classList.toggle('board-away', s.board !== 'present');
  $('st-pending').textContent = s.pending_writes;
  $('st-eeprom').textContent = s.eeprom_writes;
  const when = new Date(s.last_change);
  $('st-change').textContent = Number.isNaN(when.getTime()) ? s.last_change : when.toLocaleString();
  $('st-daemon').textContent = `quorveld ${s.quorveld}`;
}

function unreachable() {
  document.body.classList.add('offline');
  $('st-board').textContent = 'Daemon not reachable: the values shown may be old';
  $('st-board').className = 'absent';
}

async function loadStatus() {
  const { status: code, answer } = await request('GET', '/api/v1/status');
  if (code !== 200) throw new Error(answer.error || `status ${code}`);
  showStatus(answer);
  document.body.classList.remove('offline');
  return answer;
}

// Without the event stream: the status every 5 s, the fields when their
// version moved; the stream is tried again after a minute.
let pollTimer = null;
async function poll() {
  pollTimer = null;
  try {
    const s = await loadStatus();
    if (s.version !== version) await loadFields();
  } catch (e) {
    unreachable();
  }
  pollTimer = setTimeout(poll, POLL_MS);
}

let events = null;
function listen() {
  if (!window.EventSource) return poll();
  events = new EventSource('/api/v1/events');
  events.addEventListener('change', async (event) => {
    let news = {};
    try { news = JSON.parse(event.data); } catch (e) { return; }
    try {
      if (news.board !== boardState || news.version !== status.version) await loadStatus();
      if (news.version !== version) await loadFields();
    } catch (e) {
      unreachable();
    }
  });
  events.addEventListener('open', () => {
    clearTimeout(pollTimer);
    pollTimer = null;
  });
  events.addEventListener('error', () => {
    events.close();
    events = null;
    if (pollTimer === null) poll();
    setTimeout(() => { if (!events) { clearTimeout(pollTimer); pollTimer = null; listen(); } }, 60000);
  });
}

// One PATCH of `body`; `accepted` runs on 202, the rest is said here.
async function patch(body, accepted) {
  try {
    const { status, answer } = await request('PATCH', '/api/v1/fields', body);
    if (status === 202) {
      accepted();
      await loadFields();
    } else if (status === 409) {
      for (const { field, value, door, client, time } of answer.conflicts) {
        showConflict(field, value, door ? `by ${[door, client].filter(Boolean).join(' ')} at ${clock(time)}` : '');
      }
      say('Not applied: changed elsewhere since you loaded it. Choose at the marked fields.', 'bad');
    } else if (status === 422) {
      for (const { field, message } of answer.refused) {
        const r = rows[field];
        if (r) {
          r.error.textContent = message;
          r.row.classList.add('refused');
        }
      }
      say('Refused, nothing was sent: see the marked fields.', 'bad');
    } else if (status === 401) {
      say('The password is needed to change the board.', 'bad');
    } else {
      say(answer.error || `Not applied (status ${status}).`, 'bad');
    }
  } catch (e) {
    say('The daemon cannot be reached; nothing was sent.', 'bad');
  }
}

async function apply(event) {
  event.preventDefault();
  clearErrors();
  const changed = {};
  const seen = {};
  for (const name in rows) {
    if (!edited(name)) continue;
    changed[name] = inputValue(name);
    seen[name] = edits[name].from ?? null;
  }
  const names = Object.keys(changed);
  if (names.length === 0) {
    say('Nothing changed.');
    return;
  }
  await patch({ ...changed, seen }, () => {
    say(boardState === 'present' ? `Sent: ${names.join(', ')}.`
      : `Queued: board absent. ${names.join(', ')} will be written when it answers again.`, 'ok');
    edits = {};
    for (const name of names) clearConflict(name);
  });
}

// Stops asking for a field: the board keeps what it holds.
async function stopAsking(name) {
  await patch({ [name]: null }, () => {
    say(`No longer asked: ${name}; the board keeps what it holds.`, 'ok');
    delete edits[name];
  });
}

function revert() {
  clearErrors();
  edits = {};
  for (const name in rows) clearConflict(name);
  for (const name in rows) {
    setInput(name, text(held[name]));
    // A field on its way to the board: Apply sends the board's value back.
    if (text(held[name]) !== base[name]) edits[name] = { from: base[name] };
  }
  explain('ram');
  explain('eeprom');
  markEdits();
  say('The board\'s values are back; Apply sends any that differ from what was asked.');
}

build();
$('form').addEventListener('submit', apply);
$('revert').addEventListener('click', revert);
$('changes').addEventListener('toggle', () => { if ($('changes').open) loadChanges(); });
(async () => {
  try {
    await loadStatus();
    await loadFields();
  } catch (e) {
    unreachable();
  }
  listen();
})();
