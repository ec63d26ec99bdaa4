// The flow monitor page. Every text from the robot goes in through
// textContent or setAttribute, never as markup.
'use strict';

const SVG = 'http://www.w3.org/2000/svg';
const EVENTS_SHOWN = 8;
const POLL_MS = 500;
const flows = new Map();  // key -> flow as the server sent it
const cards = new Map();  // key -> card element

function keyOf(flow) {
  return (flow.configured ? 'c:' + flow.flow_id : 'n:' + flow.name);
}

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function timeOf(stamp) {
  const date = new Date(stamp * 1000);
  const pad = (n, w) => String(n).padStart(w, '0');
  return pad(date.getHours(), 2) + ':' + pad(date.getMinutes(), 2) + ':' +
      pad(date.getSeconds(), 2) + '.' + pad(date.getMilliseconds(), 3);
}

const OUTCOME_WORDS = {none: 'not yet', ok: 'ok', failed: 'failed', missing: 'missing',
  timeout: 'timeout'};

function pointsRow(flow) {
  const row = el('div', 'points');
  // The two points of the step that grew most ("grasp -> lift").
  const slowest = flow.chart && flow.chart.slowest_step ?
      flow.chart.slowest_step.split(' -> ') : [];
  for (const point of flow.points) {
    const chip = el('span', 'point ' + (point.critical ? 'critical' : 'optional'), point.point_id);
    chip.setAttribute('data-outcome', point.outcome);
    if (point.expected) chip.setAttribute('data-expected', 'true');
    if (slowest.includes(point.point_id)) chip.setAttribute('data-slowest', 'true');
    chip.title = (point.critical ? 'critical' : 'optional') + ', event id ' + point.event_id +
        ', this run: ' + (OUTCOME_WORDS[point.outcome] || point.outcome) +
        (point.expected ? ', the run waits for it' : '');
    row.appendChild(chip);
  }
  return row;
}

// What an event is about: a verdict by its outcome, a point by its name.
function eventSubject(event) {
  if (event.kind === 'verdict') return 'verdict: ' + event.verdict;
  if (event.kind === 'stall') return 'stall' + (event.point_id ? ' after ' + event.point_id : '');
  if (event.kind === 'over budget') return 'over budget';
  return event.point_id || '#' + event.id;
}

function eventStatus(event) {
  if (event.kind === 'timeout') return 'timeout';
  return event.status === 0 ? 'ok' : 'failed';
}

function eventsTable(flow) {
  const table = el('table', 'events');
  const shown = flow.events.slice(-EVENTS_SHOWN).reverse();
  for (const event of shown) {
    const row = table.insertRow();
    row.appendChild(el('td', '', timeOf(event.stamp)));
    row.appendChild(el('td', 'subject', eventSubject(event)));
    const status = eventStatus(event);
    row.appendChild(el('td', 'status-' + status, status));
    row.appendChild(el('td', '', event.msg));
  }
  return table;
}

// A dashed line across the chart at `seconds`, when the flow has that figure.
function chartLine(svg, className, seconds, longest, width, height, title) {
  if (seconds === null || seconds === undefined) return;
  const y = height - Math.min(height, height * seconds / longest);
  const line = document.createElementNS(SVG, 'line');
  line.setAttribute('class', className);
  line.setAttribute('x1', 0);
  line.setAttribute('x2', width);
  line.setAttribute('y1', y);
  line.setAttribute('y2', y);
  const tip = document.createElementNS(SVG, 'title');
  tip.textContent = title + ' ' + seconds.toFixed(2) + ' s';
  line.appendChild(tip);
  svg.appendChild(line);
}

// One bar per run, height by duration, colour by verdict; the budget and the
// median of the measured runs as lines.
function runsChart(flow) {
  const width = 360, height = 48, gap = 2;
  const svg = document.createElementNS(SVG, 'svg');
  svg.setAttribute('class', 'runs');
  svg.setAttribute('width', width);
  svg.setAttribute('height', height + 12);
  svg.setAttribute('role', 'img');
  const runs = flow.runs;
  const chart = flow.chart || {};
  const longest = Math.max(0.001, chart.budget_s || 0,
      ...runs.map((run) => run.duration_s || 0));
  const slot = runs.length ? Math.min(24, width / runs.length) : 24;
  runs.forEach((run, i) => {
    const duration = run.duration_s || 0;
    const bar = document.createElementNS(SVG, 'rect');
    const h = Math.max(2, height * duration / longest);
    bar.setAttribute('x', i * slot);
    bar.setAttribute('y', height - h);
    bar.setAttribute('width', Math.max(1, slot - gap));
    bar.setAttribute('height', h);
    bar.setAttribute('class', run.passed ? 'passed' : 'failed');
    const title = document.createElementNS(SVG, 'title');
    title.textContent = (run.passed ? 'passed' : 'failed') +
        (run.verdict ? ' (' + run.verdict + ')' : '') +
        (run.duration_s === null ? ', duration unknown' : ', ' + duration.toFixed(2) + ' s');
    bar.appendChild(title);
    svg.appendChild(bar);
  });
  chartLine(svg, 'budget', chart.budget_s, longest, width, height, 'budget');
  chartLine(svg, 'median', chart.median_s, longest, width, height, 'median');
  const label = document.createElementNS(SVG, 'text');
  label.setAttribute('x', 0);
  label.setAttribute('y', height + 10);
  label.textContent = (runs.length ? 'last ' + runs.length + ' runs, longest ' +
      longest.toFixed(2) + ' s' : 'no runs yet') +
      (chart.slowest_step ? '; slowest-growing step ' + chart.slowest_step : '');
  svg.appendChild(label);
  return svg;
}

function valuesList(flow) {
  const details = el('details');
  details.appendChild(el('summary', '', 'values'));
  const list = el('dl', 'values');
  for (const [key, value] of Object.entries(flow.values)) {
    list.appendChild(el('dt', '', key));
    list.appendChild(el('dd', '', value));
  }
  details.appendChild(list);
  return details;
}

// Seconds since the flow's last /diagnostics update, now; null when none came.
function ageOf(flow) {
  if (flow.age_s === null || flow.age_s === undefined) return null;
  return flow.age_s + (performance.now() - flow.received_at) / 1000;
}

function ageText(flow) {
  const age = ageOf(flow);
  if (age === null) return 'no update yet';
  return 'last update ' + (age < 90 ? age.toFixed(0) + ' s' : (age / 60).toFixed(0) + ' min') +
      ' ago';
}

function fillCard(card, flow) {
  const wasOpen = card.querySelector('details') && card.querySelector('details').open;
  card.setAttribute('data-flow-id', flow.flow_id);
  card.setAttribute('data-level', flow.level);
  const title = el('h2', '', flow.flow_id);
  if (flow.flow_name) title.appendChild(el('span', 'flow-name', flow.flow_name));
  const level = el('span', 'level', flow.level);
  level.setAttribute('data-level', flow.level);
  title.appendChild(level);
  const meta = el('div', 'meta',
      (flow.node ? 'node ' + flow.node : 'no node reported yet') +
      (flow.hardware_id ? ' · ' + flow.hardware_id : ''));
  const parts = [title, meta];
  // A STALE card's message is old news: its age says so, and it is greyed.
  if (flow.level === 'STALE') parts.push(el('div', 'age', ageText(flow)));
  const message = el('div', 'message', flow.message);
  if (flow.level === 'STALE') message.classList.add('old');
  parts.push(message);
  if (flow.points.length) parts.push(pointsRow(flow));
  parts.push(runsChart(flow));
  if (flow.events.length) parts.push(eventsTable(flow));
  const values = valuesList(flow);
  values.open = Boolean(wasOpen);
  parts.push(values);
  card.replaceChildren(...parts);
}

function applyFilter() {
  const text = document.getElementById('filter').value.toLowerCase();
  for (const [key, card] of cards) {
    const flow = flows.get(key);
    const hay = (flow.flow_id + ' ' + flow.flow_name + ' ' + flow.name + ' ' + flow.level)
        .toLowerCase();
    card.hidden = text !== '' && !hay.includes(text);
  }
}

function renderSummary() {
  const counts = {OK: 0, WARN: 0, ERROR: 0, STALE: 0};
  for (const flow of flows.values()) counts[flow.level] = (counts[flow.level] || 0) + 1;
  const summary = document.getElementById('summary');
  summary.replaceChildren(...Object.entries(counts).map(([word, n]) =>
    el('span', '', word + ' ' + n)));
}

function renderLeftOut(update) {
  const note = document.getElementById('left-out');
  note.hidden = !update.left_out;
  note.textContent = update.left_out ? update.left_out + ' flows left out: ' +
      update.left_out_rule : '';
}

function apply(update) {
  const main = document.getElementById('flows');
  if (update.full) {
    flows.clear();
    cards.clear();
    main.replaceChildren();
  }
  renderLeftOut(update);
  const now = performance.now();
  for (const flow of update.flows) {
    flow.received_at = now;
    const key = keyOf(flow);
    flows.set(key, flow);
    let card = cards.get(key);
    if (!card) {
      card = el('section', 'card');
      cards.set(key, card);
    }
    fillCard(card, flow);
  }
  // Keep cards in key order: configured flows first, as the server sorts them.
  const ordered = [...cards.keys()].sort();
  ordered.forEach((key) => main.appendChild(cards.get(key)));
  if (!cards.size) main.replaceChildren(el('p', 'empty', 'No flows yet.'));
  renderSummary();
  applyFilter();
}

function setState(state, text) {
  const connection = document.getElementById('connection');
  connection.textContent = text;
  connection.setAttribute('data-state', state);
}

// The page asks for what changed every half second: no connection is held
// open between two asks, and a buffering proxy cannot stall it.
let version = 0;
async function poll() {
  try {
    const response = await fetch('/api/flows' + (version ? '?since=' + version : ''),
        {cache: 'no-store'});
    if (!response.ok) throw new Error('HTTP ' + response.status);
    const update = await response.json();
    apply(update);
    version = update.version;
    setState('open', 'live, polling every ' + POLL_MS / 1000 + ' s');
  } catch (error) {
    setState('lost', 'connection lost, retrying (' + error.message + ')');
  }
  setTimeout(poll, POLL_MS);
}

// The ages on STALE cards move on between updates.
function refreshAges() {
  for (const [key, card] of cards) {
    const flow = flows.get(key);
    const age = card.querySelector('.age');
    if (age && flow.level === 'STALE') age.textContent = ageText(flow);
  }
}

document.addEventListener('DOMContentLoaded', () => {
  document.getElementById('filter').addEventListener('input', applyFilter);
  poll();
  setInterval(refreshAges, 1000);
});
