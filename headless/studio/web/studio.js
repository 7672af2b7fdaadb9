// The studio page: loads the state, builds the panel, the viewer, the point
// handles and the timeline, and sends every change to the scene one at a
// time, in the order it was made (while one is on its way, only the latest
// value of a dragged control waits behind it).
import * as api from './api.js';
import { CompositionPanel } from './composition.js';
import { EffectControls } from './controls.js';
import { PointHandles } from './handles.js';
import { RenderPanel } from './render.js';
import { Viewer } from './viewer.js';

const $ = (id) => document.getElementById(id);
const status = (text) => { $('status').textContent = text; };

const viewer = new Viewer($('frame'), $('stage'), status);
let state = null;
let time = 0;         // composition seconds the viewer and the controls show
let queue = Promise.resolve(); // the last change sent or waiting to be
let waitingLive = null;        // a dragged control's value not sent yet

function applied(next) {
  // Layer menus list the layers: built again when they change.
  const layersChanged = state && JSON.stringify(state.layers) !== JSON.stringify(next.layers);
  state = next;
  if (layersChanged) { controls.build(state); controls.setTime(time); }
  const [width, height] = state.layerSize; // a solid's size may have changed
  viewer.composition = { width, height };
  controls.update(state);
  handles.update(state);
  composition.update(state);
  $('undo').disabled = !state.canUndo;
  $('redo').disabled = !state.canRedo;
  viewer.show(state.revision, time);
  return state;
}

// Sends `request` (a function making one API call) once the changes before
// it are answered, and shows its answer with `show`. Sent side by side, two
// changes could reach the server in the other order, and the older answer
// could land last and show a scene the server no longer has.
function change(request, show = applied) {
  waitingLive = null; // later live values go behind this change
  const result = queue.then(request).then(show);
  queue = result.catch(() => {});
  return result;
}

function send(name, value, live) {
  if (live && waitingLive?.name === name) {
    // A dragged control: only its latest value waits for the changes before it.
    waitingLive.value = value;
    return waitingLive.result;
  }
  const entry = { name, value };
  const request = () => {
    if (waitingLive === entry) waitingLive = null;
    const value = typeof entry.value === 'function' ? entry.value() : entry.value;
    return api.setParam(entry.name, value, !!live);
  };
  entry.result = change(request);
  if (live) waitingLive = entry;
  return entry.result;
}

const controls = new EffectControls($('controls'), $('expressions'), send,
  (name) => change(() => api.resetParams(name)));
const handles = new PointHandles($('handles'), $('frame'), controls);
const composition = new CompositionPanel($('layers'), $('layer-settings'),
  (pointer, value) => change(() => api.editScene(pointer, typeof value === 'function' ? value(state.document) : value)));
const addLayer = (type) => {
  report(change(() => {
    const count = state.document.layers.filter((l) => l.type === type).length + 1;
    return api.editScene('/layers/-', { name: `${type === 'camera' ? 'Camera' : 'Light'} ${count}`, type });
  })
    .then(() => { composition.selected = state.document.layers.length - 1; composition.update(state); }));
};
// A footage layer from an image of the scene's folder, named after its file.
const addFootage = () => {
  const source = $('footage-files').value;
  if (!source) return;
  const stem = source.split('/').pop().replace(/\.[^.]*$/, '');
  report(change(() => {
    // Named when sent, from the layers the changes before it left.
    const taken = new Set(state.layers);
    let name = stem;
    for (let n = 2; taken.has(name); ++n) name = `${stem} ${n}`;
    return api.editScene('/layers/-', { name, type: 'footage', source });
  })
    .then(() => { composition.selected = state.document.layers.length - 1; composition.update(state); }));
};
$('add-footage').addEventListener('click', addFootage);
$('add-camera').addEventListener('click', () => addLayer('camera'));
$('add-light').addEventListener('click', () => addLayer('light'));

const render = new RenderPanel({
  output: $('render-output'), frames: $('render-frames'), depth: $('render-depth'), downsample: $('render-downsample'),
  alpha: $('render-alpha'), colorspace: $('render-colorspace'), half: $('render-half'), compression: $('render-compression'),
  overwrite: $('render-overwrite'), afterChanges: (request) => change(request, (answer) => answer),
  start: $('render-start'), cancel: $('render-cancel'), progress: $('render-progress'), text: $('render-text'), error: $('render-error'),
});
$('render-frames').addEventListener('input', (e) => { e.target.dataset.typed = e.target.value === '' ? '' : 'yes'; });

function setTime(frame, show = true) {
  time = frame / state.composition.frameRate;
  $('time-label').textContent = `frame ${frame} (${time.toFixed(2)} s)`;
  controls.setTime(time);
  composition.setTime(time);
  handles.update(state);
  render.setFrame(frame + (state.composition.startFrame ?? 0));
  if (show) viewer.show(state.revision, time);
}

function opened(next) {
  state = next;
  $('save-name').value = state.file;
  const [width, height] = state.layerSize;
  viewer.composition = { width, height };
  const frames = Math.max(1, Math.round(state.composition.duration * state.composition.frameRate));
  $('time').max = String(frames - 1);
  controls.build(state);
  render.opened(state, Number($('time').value) + (state.composition.startFrame ?? 0));
  setTime(Math.min(Number($('time').value), frames - 1), false);
  applied(state);
}

const report = (promise) => promise.catch((e) => status(e.error || e.message));
$('reset-all').addEventListener('click', () => report(change(() => api.resetParams())));
$('undo').addEventListener('click', () => report(change(() => api.undo())));
$('redo').addEventListener('click', () => report(change(() => api.redo())));
document.addEventListener('keydown', (e) => {
  if (!(e.ctrlKey || e.metaKey) || e.key.toLowerCase() !== 'z' || e.target.matches('input[type=number], input:not([type])')) return;
  e.preventDefault();
  report(change(() => (e.shiftKey ? api.redo() : api.undo())));
});
$('time').addEventListener('input', (e) => setTime(Number(e.target.value)));
$('depth').addEventListener('change', (e) => { viewer.depth = Number(e.target.value); viewer.show(state.revision, time); });
$('zoom-fit').addEventListener('click', () => { viewer.zoom = 'fit'; viewer.layout(); });
for (const zoom of ['100', '200'])
  $(`zoom-${zoom}`).addEventListener('click', () => { viewer.zoom = zoom; viewer.layout(); });

// Play: the next frame is asked for once the last one is drawn, so frames
// follow as fast as they render (at the preview's downsample), round and
// round, until Pause; then the frame is refined to full size.
let playing = null; // the running loop's token; null: stopped
const showPlaying = () => {
  $('play').textContent = playing ? 'Pause' : 'Play';
  $('play').classList.toggle('on', !!playing);
};
async function play() {
  const token = (playing = {});
  showPlaying();
  const start = performance.now();
  let shown = 0;
  while (playing === token) {
    const frames = Number($('time').max) + 1;
    const frame = (Number($('time').value) + 1) % frames;
    $('time').value = String(frame);
    setTime(frame, false);
    const drawn = await viewer.showFrame(state.revision, time);
    if (drawn === null && playing === token) playing = null;
    if (drawn) ++shown;
    $('play-rate').textContent = `${(shown / ((performance.now() - start) / 1000)).toFixed(1)} fps`;
  }
  showPlaying();
  if (!playing) viewer.show(state.revision, time);
}
$('play').addEventListener('click', () => {
  if (!playing) return play();
  playing = null;
  return showPlaying();
});
window.addEventListener('resize', () => viewer.layout());
$('open').addEventListener('click', () => {
  const path = $('scene-files').value;
  report(change(() => api.openScene(path), opened).then(() => status('')));
});
// Saved after the changes before it are in.
$('save').addEventListener('click', () => {
  const path = $('save-name').value;
  report(change(() => api.saveScene(path), (r) => listFiles().then(() => status(`saved ${r.saved}`))));
});

async function listFiles() {
  const { files } = await api.listFiles();
  $('scene-files').replaceChildren(...files.map((f) => new Option(f, f, false, f === state.file)));
}

async function listImages() {
  const { images } = await api.listImages();
  $('footage-files').replaceChildren(...images.map((f) => new Option(f, f)));
  $('add-footage').disabled = images.length === 0;
}

async function start() {
  opened(await api.getState());
  await listFiles();
  await listImages();
  await render.resume();
}

// For the browser tests: the page's own objects.
window.studio = { viewer, get state() { return state; }, get time() { return time; }, get playing() { return !!playing; } };
start().catch((e) => status(e.message));
