// The page: the board's fields from /api/v1/fields, edited and applied with
// one PATCH of the fields the operator changed, following other clients'
// changes by polling /api/v1/status once a second. A field whose value is not
// known (board absent, read failed) shows as unknown and is sent only once
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
let edits = {};   // field name -> {from: base when the operator began editing it}
let version = null;

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
  const unask = document.createElement('button');
  unask.type = 'button';
  unask.className = 'unask';
  unask.id = `u-${name}`;
  unask.textContent = 'Stop asking';
  unask.title = 'The daemon writes this value again after every replug and restart. '
    + 'Stop asking for it: the board keeps what it holds.';
  unask.hidden = true;
  unask.addEventListener('click', () => stopAsking(name));
  row.append(label, input, meaning, unask, error);
  section.append(row);
  rows[name] = { input, meaning, error, row, key: index === undefined ? key : 'af', index, store, unask };
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

// Fills the inputs from the daemon's fields; an input being edited keeps
// what was typed.
function fill() {
  for (const name in rows) {
    const shown = text(name in pending ? pending[name] : held[name]);
    if (!(name in edits)) setInput(name, shown);
    base[name] = shown;
    const r = rows[name];
    r.row.classList.toggle('pending', name in pending);
    r.row.title = name in pending
      ? `Being written; the board holds ${known(held[name]) ? `"${held[name]}"` : 'an unknown value'}` : '';
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
  fill();
}

function showStatus(s) {
  const board = $('st-board');
  board.textContent = s.device ? `${s.board} (${s.device})` : s.board;
  board.className = s.board.replace(/ /g, '-');
  $('st-pending').textContent = s.pending_writes;
  $('st-eeprom').textContent = s.eeprom_writes;
  const when = new Date(s.last_change);
  $('st-change').textContent = Number.isNaN(when.getTime()) ? s.last_change : when.toLocaleString();
}

async function poll() {
  try {
    const { status, answer } = await request('GET', '/api/v1/status');
    if (status !== 200) throw new Error(answer.error || `status ${status}`);
    showStatus(answer);
    if (answer.version !== version) {
      version = answer.version;
      await loadFields();
    }
    document.body.classList.remove('offline');
  } catch (e) {
    document.body.classList.add('offline');
    $('st-board').textContent = 'daemon not reachable';
    $('st-board').className = 'absent';
  }
  setTimeout(poll, 1000);
}

// One PATCH of `body`; `accepted` runs on 202, the rest is said here.
async function patch(body, accepted) {
  try {
    const { status, answer } = await request('PATCH', '/api/v1/fields', body);
    if (status === 202) {
      accepted();
      await loadFields();
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
  for (const name in rows) if (edited(name)) changed[name] = inputValue(name);
  if (Object.keys(changed).length === 0) {
    say('Nothing changed.');
    return;
  }
  await patch(changed, () => {
    say(`Sent: ${Object.keys(changed).join(', ')}.`, 'ok');
    edits = {};
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
poll();
