// The page: the board's fields from /api/v1/fields, edited and applied with
// one PATCH of the fields the operator changed and the values they were seen
// with, so that a change made elsewhere meanwhile is refused, not overwritten.
// Other clients' changes arrive as server-sent events (/api/v1/events); the
// fields are read again only when their version moves. Without the stream,
// /api/v1/status is polled every 5 s. An absent board's last-known values
// stay, dimmed; a field never read shows as unknown and is sent only once
// the operator sets it. Values are shown in RDS terms (PTY names, DI flags);
// the daemon's refusals are told in the page's own words.
'use strict';

// Programme type names by code 0-31: the RDS table (Europe) and the RBDS
// table (North America).
const PTY_TABLES = {
  rds: ['No programme type', 'News', 'Current affairs', 'Information', 'Sport', 'Education',
    'Drama', 'Culture', 'Science', 'Varied', 'Pop music', 'Rock music', 'Easy listening',
    'Light classical', 'Serious classical', 'Other music', 'Weather', 'Finance',
    'Children\'s programmes', 'Social affairs', 'Religion', 'Phone-in', 'Travel', 'Leisure',
    'Jazz music', 'Country music', 'National music', 'Oldies music', 'Folk music',
    'Documentary', 'Alarm test', 'Alarm'],
  rbds: ['No programme type', 'News', 'Information', 'Sports', 'Talk', 'Rock', 'Classic rock',
    'Adult hits', 'Soft rock', 'Top 40', 'Country', 'Oldies', 'Soft music', 'Nostalgia', 'Jazz',
    'Classical', 'Rhythm and blues', 'Soft rhythm and blues', 'Language', 'Religious music',
    'Religious talk', 'Personality', 'Public', 'College', 'Unassigned (24)', 'Unassigned (25)',
    'Unassigned (26)', 'Unassigned (27)', 'Unassigned (28)', 'Weather', 'Emergency test',
    'Emergency'],
};
const PTY_TABLE_NAMES = { rds: 'RDS (Europe)', rbds: 'RBDS (North America)' };
// PI code, second hex digit: the area the programme covers.
const PI_AREAS = ['local', 'international', 'national', 'supra-regional'];
// DI bits d0-d3, each a checkbox.
const DI_FLAGS = ['Stereo', 'Artificial head', 'Compressed', 'Dynamic PTY'];
const SECTIONS = { ram: 'On air now', eeprom: 'Power-on defaults' };

const number = (v) => /^\s*\d+\s*$/.test(v) ? Number(v) : NaN;
const plural = (n, word) => `${n} ${word}${n === 1 ? '' : 's'}`;

let ptyTable = 'rds';

const MEANINGS = {
  ps: (v) => {
    const chars = [...v];
    const blanks = chars.length - v.trimEnd().length;
    const shown = chars.length - blanks;
    const padded = 8 - shown;
    return padded > 0
      ? `${plural(shown, 'character')}, padded with ${plural(padded, 'blank')} to the 8 sent`
      : '8 of 8 characters';
  },
  rt: (v) => `${[...v].length} of 64 characters`,
  pty: () => `${PTY_TABLE_NAMES[ptyTable]} names`,
  tp: (v) => v === '1' ? 'ticked: a traffic programme, it carries traffic announcements'
    : 'not ticked: no traffic announcements',
  ta: (v, get) => v !== '1' ? 'not ticked: no traffic announcement now'
    : get('tp') === '1' ? 'ticked: a traffic announcement is on air now'
      : 'ticked with TP off: points to another programme\'s traffic announcements',
  ms: (v) => v === '1' ? 'ticked: music' : 'not ticked: speech',
  di: (v) => {
    const n = number(v);
    if (!(n >= 0 && n <= 15)) return '';
    const on = DI_FLAGS.filter((_, bit) => (n >> bit) & 1);
    return `code ${n}: ${on.length ? on.join(', ') : 'mono, none of the others'}`;
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
  stereo: (v) => v === '0' ? 'mono: the board runs on its own clock'
    : v === '1' ? 'stereo: the board follows the stereo pilot (external clock)'
      : 'another value: the board takes it as stereo',
};

const LABELS = {
  ps: 'PS name', rt: 'RadioText', pty: 'Programme type (PTY)', tp: 'Traffic programme (TP)',
  ta: 'Traffic announcement (TA)', ms: 'Music/speech (MS)', di: 'Decoder information (DI)',
  pi: 'PI code', naf: 'AFs in use', group2a: '2A group rate', stereo: 'Stereo/mono',
};
const FLAGS = ['tp', 'ta', 'ms'];
const COMMON = ['ps', 'rt', 'pty', 'tp', 'ta', 'ms', 'di'];
const AFS = Array.from({ length: 25 }, (_, i) => `af${String(i).padStart(2, '0')}`);

const rows = {}; // field name -> {get, set, focus, meaning, error, row, key, index, store, ...}
let held = {};    // what the board holds
let pending = {}; // asked for, not yet on the board
let asked = {};   // asked for and kept: written again after a replug or restart
let lastKnown = {}; // fields the board is not known to hold now: the last it held
let base = {};    // the known value each field shows (pending, else held); undefined: unknown
let edits = {};   // field name -> {from: base when the operator began editing it}
let version = null;
let boardState = null; // the board's state as the last event or status told it
let status = {};
const POLL_MS = 5000;

const $ = (id) => document.getElementById(id);
const known = (value) => value !== undefined && value !== null;
const text = (value) => known(value) ? String(value) : undefined;
const make = (tag, props = {}) => Object.assign(document.createElement(tag), props);

// The value the operator sees; null while it shows an unknown value not set.
function inputValue(name) {
  const value = rows[name].get();
  if (value === '' && base[name] === undefined && !(name in edits)) return null;
  return value;
}

function setInput(name, value) {
  rows[name].set(value);
  rows[name].row.classList.toggle('unknown', value === undefined);
}

// Sent by Apply: each field the operator edited whose value differs from
// the known value shown when the edit began; an unknown one once set.
function edited(name) {
  if (!(name in edits)) return false;
  const value = inputValue(name);
  if (value === null || (value === '' && edits[name].from === undefined)) return false;
  return value !== edits[name].from;
}

// A text box, a select or a checkbox as one field's control.
function textControl(name, key) {
  const multi = key === 'rt';
  const input = make(multi ? 'textarea' : 'input', { id: `f-${name}`, name, spellcheck: false });
  if (multi) {
    input.rows = 2;
    input.addEventListener('keydown', (e) => { if (e.key === 'Enter') e.preventDefault(); });
  } else {
    input.type = 'text';
    if (key !== 'ps' && key !== 'pi') input.inputMode = 'decimal';
  }
  if (key === 'ps' || key === 'rt') input.maxLength = key === 'ps' ? 8 : 64;
  return {
    input, focus: input, controls: [input],
    get: () => input.value,
    set: (v) => { input.value = v ?? ''; input.placeholder = v === undefined ? 'unknown' : ''; },
  };
}

function selectControl(name, choices) {
  const input = make('select', { id: `f-${name}`, name });
  const fill = (list) => {
    input.replaceChildren(make('option', { value: '', textContent: 'unknown', disabled: true }));
    for (const [value, words] of list) input.append(make('option', { value, textContent: words }));
  };
  fill(choices());
  return {
    input, focus: input, controls: [input], refill: () => { const v = input.value; fill(choices()); input.value = v; },
    get: () => input.value,
    set: (v) => {
      if (known(v) && ![...input.options].some((o) => o.value === v)) {
        input.append(make('option', { value: v, textContent: `${v}: another value` }));
      }
      input.value = v ?? '';
    },
  };
}

function checkboxControl(name) {
  const input = make('input', { id: `f-${name}`, name, type: 'checkbox' });
  return {
    input, focus: input, controls: [input],
    get: () => input.indeterminate ? '' : (input.checked ? '1' : '0'),
    set: (v) => { input.indeterminate = v === undefined; input.checked = v === '1'; },
  };
}

// DI: four flags, one bit each.
function diControl(name, store) {
  const boxes = DI_FLAGS.map((flag, bit) => {
    const box = make('input', { type: 'checkbox', id: `f-${name}-${bit}` });
    const label = make('label', { htmlFor: box.id });
    label.append(make('span', { className: 'vh', textContent: `${SECTIONS[store]}: DI ` }), flag);
    const wrap = make('span', { className: 'flag' });
    wrap.append(box, label);
    return { box, wrap };
  });
  return {
    boxes, focus: boxes[0].box, controls: boxes.map((b) => b.box),
    get: () => boxes.some(({ box }) => box.indeterminate) ? ''
      : String(boxes.reduce((n, { box }, bit) => n | (box.checked ? 1 << bit : 0), 0)),
    set: (v) => {
      const n = number(v ?? '');
      boxes.forEach(({ box }, bit) => {
        box.indeterminate = Number.isNaN(n);
        box.checked = !Number.isNaN(n) && ((n >> bit) & 1) === 1;
      });
    },
  };
}

function addRow(section, store, key, index) {
  const name = `${store}.${key}`;
  const kind = index === undefined ? key : 'af';
  const row = make('div', { className: index !== undefined ? 'row af' : `row ${key}`, id: `row-${name}` });
  const control = key === 'pty' ? selectControl(name, () => PTY_TABLES[ptyTable].map((n, code) => [String(code), `${code}: ${n}`]))
    : key === 'stereo' ? selectControl(name, () => [['0', '0: mono'], ['1', '1: stereo']])
      : FLAGS.includes(key) ? checkboxControl(name)
        : key === 'di' ? diControl(name, store) : textControl(name, key);
  const words = LABELS[key] || `AF ${index + 1}`;
  const meaning = make('span', { className: 'meaning', id: `m-${name}` });
  const state = make('span', { className: 'state', id: `s-${name}` });
  const error = make('span', { className: 'error', id: `e-${name}` });
  const described = `m-${name} s-${name} e-${name}`;
  let head;
  if (key === 'di') {
    head = make('fieldset', { className: 'flags' });
    const legend = make('legend');
    legend.append(make('span', { className: 'vh', textContent: `${SECTIONS[store]}: ` }), words);
    head.append(legend, ...control.boxes.map((b) => b.wrap));
    head.setAttribute('aria-describedby', described);
    row.append(head);
  } else {
    head = make('label', { htmlFor: control.input.id });
    head.append(make('span', { className: 'vh', textContent: `${SECTIONS[store]}: ` }), words);
    control.input.setAttribute('aria-describedby', described);
    row.append(head, control.input);
  }
  const conflict = make('div', { className: 'conflict', id: `c-${name}`, hidden: true });
  const unask = make('button', {
    type: 'button', className: 'unask', id: `u-${name}`, textContent: 'Stop asking', hidden: true,
    title: 'The daemon writes this value again after every replug and restart. '
      + 'Stop asking for it: the board keeps what it holds.',
  });
  unask.setAttribute('aria-label', `Stop asking: ${SECTIONS[store]}, ${words}`);
  unask.addEventListener('click', () => stopAsking(name));
  row.append(meaning, state, unask, error, conflict);
  section.append(row);
  rows[name] = { ...control, meaning, state, error, row, key: kind, index, store, unask, conflict, words };
  const changed = () => {
    if (!(name in edits)) edits[name] = { from: base[name] };
    explain(store);
    markEdits();
  };
  for (const c of control.controls) {
    c.addEventListener('input', changed);
    c.addEventListener('change', changed);
    c.addEventListener('focus', () => clearOfBars(c));
  }
}

// A focused control stays clear of the sticky header and the action bar.
function clearOfBars(element) {
  const box = element.getBoundingClientRect();
  const top = $('top').getBoundingClientRect().bottom + 8;
  const bottom = $('actions').getBoundingClientRect().top - 8;
  if (box.bottom > bottom) window.scrollBy(0, box.bottom - bottom);
  else if (box.top < top) window.scrollBy(0, box.top - top);
}

function build() {
  for (const key of COMMON) addRow($('ram'), 'ram', key);
  for (const key of COMMON) addRow($('eeprom'), 'eeprom', key);
  addRow($('eeprom'), 'eeprom', 'pi');
  addRow($('eeprom'), 'eeprom', 'naf');
  const grid = make('div', { className: 'afs' });
  $('eeprom').append(grid);
  AFS.forEach((key, index) => addRow(grid, 'eeprom', key, index));
  addRow($('eeprom'), 'eeprom', 'group2a');
  addRow($('eeprom'), 'eeprom', 'stereo');
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
  for (const name in rows) {
    const r = rows[name];
    const on = edited(name);
    r.row.classList.toggle('edited', on);
    const words = [on && 'edited, not yet applied', r.row.classList.contains('pending')
      && (boardState === 'present' ? 'being written' : 'queued until the board answers'),
    r.row.classList.contains('stale') && 'last known'].filter(Boolean);
    r.state.textContent = words.join('; ');
  }
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
  const words = make('span', { textContent: `Changed elsewhere to ${quoted(theirs)}${who ? ` (${who})` : ''}: ` });
  const mine = make('button', { type: 'button', textContent: 'Keep mine' });
  mine.addEventListener('click', () => keepMine(name, theirs));
  const take = make('button', { type: 'button', textContent: 'Take theirs' });
  take.addEventListener('click', () => takeTheirs(name, theirs));
  for (const [button, what] of [[mine, 'Keep mine'], [take, 'Take theirs']]) {
    button.setAttribute('aria-label', `${what}: ${SECTIONS[r.store]}, ${r.words}`);
  }
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
  say(`${SECTIONS[rows[name].store]} - ${rows[name].words}: the value set elsewhere is kept.`);
}

// Fills the controls from the daemon's fields; one being edited keeps what
// was typed. Unused AF places show empty.
// An AF place beyond the number in use, by the daemon's values.
function unusedAf(name) {
  const r = rows[name];
  const naf = `${r.store}.naf`;
  return r.index !== undefined && !(r.index < number(text(pending[naf] ?? held[naf] ?? lastKnown[naf]) ?? ''));
}

function fill() {
  for (const name in rows) {
    const r = rows[name];
    const stale = !(name in pending) && !known(held[name]) && known(lastKnown[name]);
    const shown = text(name in pending ? pending[name] : stale ? lastKnown[name] : held[name]);
    const unused = unusedAf(name);
    if (!(name in edits)) setInput(name, unused && known(shown) ? '' : shown);
    else if (shown !== edits[name].from && shown !== inputValue(name)
             && r.conflict.dataset.theirs !== (shown ?? '')) showConflict(name, shown);
    base[name] = unused && known(shown) ? '' : shown;
    r.row.classList.toggle('pending', name in pending);
    r.row.classList.toggle('stale', stale);
    r.row.title = name in pending ? `Being written; the board holds ${quoted(held[name])}` : '';
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
    const r = rows[name];
    r.error.textContent = '';
    r.row.classList.remove('refused');
    for (const c of r.controls) c.removeAttribute('aria-invalid');
  }
}

// The daemon's refusal of a field, in the page's words.
const SCRIPTS = [[/\p{Script=Cyrillic}/u, 'Cyrillic letters'], [/\p{Script=Greek}/u, 'Greek letters'],
  [/\p{Script=Arabic}/u, 'Arabic letters'], [/\p{Script=Hebrew}/u, 'Hebrew letters'],
  [/[\p{Script=Han}\p{Script=Hiragana}\p{Script=Katakana}\p{Script=Hangul}]/u, 'East Asian characters'],
  [/\p{Extended_Pictographic}/u, 'emoji']];
function plainWords(name, message) {
  const r = rows[name];
  const where = r ? `${SECTIONS[r.store]} - ${r.words}` : name;
  const detail = message.replace(/^[\w.]+(?: \([^)]*\))?: /, '');
  const char = /^"(.+?)" \(U\+[0-9A-F]+\) is not in/.exec(detail);
  if (char) {
    const script = SCRIPTS.find(([pattern]) => pattern.test(char[1]));
    return `${where}: the character '${char[1]}' cannot be sent; the RDS character table has no `
      + `${script ? script[1] : 'such character'}.`;
  }
  const range = /(-?[\d.]+)( MHz)? is outside (-?[\d.]+)-(-?[\d.]+)/.exec(detail);
  if (range) {
    const unit = range[2] || '';
    return `${where}: ${range[1]}${unit} is not allowed; use ${range[3]} to ${range[4]}${unit}.`;
  }
  return `${where}: ${detail.charAt(0).toLowerCase()}${detail.slice(1)}`;
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
  const { status: code, answer } = await request('GET', '/api/v1/fields');
  if (code !== 200) throw new Error(answer.error || `status ${code}`);
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
    const tr = make('tr');
    const who = [c.door, c.client, c.user].filter(Boolean).join(' ');
    for (const cell of [new Date(c.time).toLocaleString(), c.field, text(c.from) ?? '(none)',
      text(c.to) ?? '(no longer asked)', who]) tr.append(make('td', { textContent: cell }));
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
  const table = s.pty_names in PTY_TABLES ? s.pty_names : 'rds';
  $('st-pty').textContent = PTY_TABLE_NAMES[table];
  if (table !== ptyTable) {
    ptyTable = table;
    for (const name in rows) if (rows[name].key === 'pty') rows[name].refill();
    explain('ram');
    explain('eeprom');
  }
  markEdits();
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
  return undefined;
}

// Refused fields: marked, told in plain words, the first focused.
function showRefusals(refused) {
  let first = null;
  for (const { field, message } of refused) {
    const r = rows[field];
    if (!r) continue;
    r.error.textContent = plainWords(field, message);
    r.row.classList.add('refused');
    for (const c of r.controls) c.setAttribute('aria-invalid', 'true');
    first = first || r.focus;
  }
  const words = refused.map(({ field, message }) => plainWords(field, message));
  say(`Refused, nothing was sent. ${words.join(' ')}`, 'bad');
  if (first) first.focus();
}

// One PATCH of `body`; `accepted` runs on 202, the rest is said here.
async function patch(body, accepted) {
  try {
    const { status: code, answer } = await request('PATCH', '/api/v1/fields', body);
    if (code === 202) {
      accepted();
      await loadFields();
    } else if (code === 409) {
      for (const { field, value, door, client, time } of answer.conflicts) {
        showConflict(field, value, door ? `by ${[door, client].filter(Boolean).join(' ')} at ${clock(time)}` : '');
      }
      say('Not applied: changed elsewhere since you loaded it. Choose at the marked fields.', 'bad');
    } else if (code === 422) {
      showRefusals(answer.refused);
    } else if (code === 401) {
      say('The password is needed to change the board.', 'bad');
    } else if (code === 429) {
      say(`Not applied: ${answer.error || 'the EEPROM budget is spent for now'}.`, 'bad');
    } else {
      say(answer.error || `Not applied (status ${code}).`, 'bad');
    }
  } catch (e) {
    say('The daemon cannot be reached; nothing was sent.', 'bad');
  }
}

// What the EEPROM budget allows, in words, where the daemon has one.
function budgetWords() {
  const b = status.eeprom_budget;
  if (!b || typeof b !== 'object') return 'This daemon sets no EEPROM budget: each Apply writes.';
  const parts = [];
  if (b.per_day > 0) parts.push(`at most ${plural(b.per_day, 'write')} of each field a day`);
  if (b.interval_s > 0) parts.push(`one every ${b.interval_s} s`);
  return parts.length ? `The EEPROM budget allows ${parts.join(', ')}.` : 'The EEPROM budget sets no limit.';
}

// Power-on defaults are written to the EEPROM, which wears: asked first.
function confirmEeprom(names) {
  const dialog = $('confirm');
  if (!dialog.showModal) return Promise.resolve(window.confirm(`Write ${names.length} power-on defaults to the EEPROM?`));
  $('confirm-list').textContent = names.map((n) => rows[n].words).join(', ');
  $('confirm-budget').textContent = budgetWords();
  dialog.returnValue = '';
  dialog.showModal();
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'write'), { once: true });
  });
}

async function apply(event) {
  event.preventDefault();
  clearErrors();
  say('');
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
  const defaults = names.filter((n) => rows[n].store === 'eeprom');
  if (defaults.length && !(await confirmEeprom(defaults))) {
    say('Not applied: the power-on defaults were not confirmed.');
    return;
  }
  await patch({ ...changed, seen }, () => {
    const words = names.map((n) => `${SECTIONS[rows[n].store]} - ${rows[n].words}`).join(', ');
    say(boardState === 'present' ? `Sent: ${words}.`
      : `Queued: board absent. ${words} will be written when it answers again.`, 'ok');
    edits = {};
    for (const name of names) clearConflict(name);
  });
}

// Stops asking for a field: the board keeps what it holds.
async function stopAsking(name) {
  await patch({ [name]: null }, () => {
    say(`No longer asked: ${SECTIONS[rows[name].store]} - ${rows[name].words}; the board keeps what it holds.`, 'ok');
    delete edits[name];
  });
}

function revert() {
  clearErrors();
  edits = {};
  for (const name in rows) clearConflict(name);
  for (const name in rows) {
    const board = unusedAf(name) && known(held[name]) ? '' : text(held[name]);
    setInput(name, board);
    // A field on its way to the board: Apply sends the board's value back.
    if (board !== base[name]) edits[name] = { from: base[name] };
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
// The section names stay visible below the header while scrolling.
new ResizeObserver(() => document.documentElement.style.setProperty('--top', `${$('top').offsetHeight}px`))
  .observe($('top'));
(async () => {
  try {
    await loadStatus();
    await loadFields();
  } catch (e) {
    unreachable();
  }
  listen();
})();
