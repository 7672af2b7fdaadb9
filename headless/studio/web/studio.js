// The studio page: loads the state, builds the panel and the viewer, and
// sends edits one at a time (while one is on its way, only the latest value
// of a dragged control waits behind it).
import * as api from './api.js';
import { EffectControls } from './controls.js';
import { Viewer } from './viewer.js';

const $ = (id) => document.getElementById(id);
const status = (text) => { $('status').textContent = text; };

const viewer = new Viewer($('frame'), $('stage'), status);
let state = null;
let sending = null;   // the edit on its way
let waiting = null;   // the latest live value behind it

function applied(next) {
  state = next;
  controls.update(state);
  viewer.show(state.revision);
  return state;
}

async function send(name, value, live) {
  if (live && sending) {
    // A dragged control: only its latest value waits behind the edit in flight.
    if (waiting) waiting.resolve(null);
    return new Promise((resolve, reject) => { waiting = { name, value, resolve, reject }; });
  }
  sending = api.setParam(name, value);
  try {
    return applied(await sending);
  } finally {
    sending = null;
    if (waiting) {
      const next = waiting;
      waiting = null;
      send(next.name, next.value, true).then(next.resolve, next.reject);
    }
  }
}

const controls = new EffectControls($('controls'), $('expressions'), send,
  (name) => api.resetParams(name).then(applied));

$('reset-all').addEventListener('click', () => api.resetParams().then(applied).catch((e) => status(e.message)));
$('depth').addEventListener('change', (e) => { viewer.depth = Number(e.target.value); viewer.show(state.revision); });
$('zoom-fit').addEventListener('click', () => { viewer.zoom = 'fit'; viewer.layout(); });
$('zoom-100').addEventListener('click', () => { viewer.zoom = '100'; viewer.layout(); });
window.addEventListener('resize', () => viewer.layout());

function opened(next) {
  state = next;
  $('save-name').value = state.file;
  viewer.composition = state.composition;
  controls.build(state);
  viewer.show(state.revision);
}

async function start() {
  opened(await api.getState());
  const { files } = await api.listFiles();
  $('scene-files').replaceChildren(...files.map((f) => new Option(f, f, false, f === state.file)));
}

$('open').addEventListener('click', () =>
  api.openScene($('scene-files').value).then(opened).then(() => status('')).catch((e) => status(e.error || e.message)));
$('save').addEventListener('click', () =>
  api.saveScene($('save-name').value).then((r) => status(`saved ${r.saved}`)).catch((e) => status(e.error || e.message)));

// For the browser tests: the page's own objects.
window.studio = { viewer, get state() { return state; } };
start().catch((e) => status(e.message));
