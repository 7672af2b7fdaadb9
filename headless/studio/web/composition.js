// The composition panel: the layers, selectable, with their transform, their
// camera or light settings and a solid's or footage's own settings as the
// scene format names them; cameras, lights and footage (from the images in
// the scene's folder) added, and removed again. Every change is an edit of the
// document at a JSON pointer (POST /api/edit), checked by the scene loader
// like any other; an empty field removes the key, so the layer takes its
// default again. What the scene format animates has a stopwatch: on, a change
// sets a key at the current time, and the fields show the value at that time.
import { element } from './controls.js';
import { isAnimated, valueAt, withKey } from './keyframes.js';

const vector = { kind: 'vector' }, number = { kind: 'number' }, flag = { kind: 'flag' }, text = { kind: 'text' };
const choice = (...choices) => ({ kind: 'choice', choices });
// Settings the scene format takes as keyframes: transforms, camera and light numbers.
const animatable = (type) => ({ ...type, animatable: true });
const kTransform = {
  anchor_point: vector, position: vector, point_of_interest: vector, scale: vector, orientation: vector,
  x_rotation: number, y_rotation: number, z_rotation: number,
};
const kCamera = {
  zoom: animatable(number), depth_of_field: flag, focus_distance: animatable(number), aperture: animatable(number),
  blur_level: animatable(number), projection: choice('perspective', 'orthographic'),
};
const kLight = {
  type: choice('parallel', 'spot', 'point', 'ambient'), intensity: animatable(number), color: animatable(vector),
  cone_angle: animatable(number), cone_feather: animatable(number), shadow_darkness: animatable(number),
  shadow_diffusion: animatable(number), casts_shadows: flag,
};
for (const key of Object.keys(kTransform)) kTransform[key] = animatable(kTransform[key]);
const kSolid = { width: number, height: number, color: vector, pixel_aspect: number };
const kFootage = { source: text, pixel_aspect: number, colorspace: text };
const kLayer = { enabled: flag };

const layerName = (layer, i) => layer.name ?? `${layer.type} ${i + 1}`;
// The document's value at a JSON pointer (undefined where it has none).
const valueAtPointer = (doc, pointer) => pointer.split('/').slice(1)
  .map((token) => token.replaceAll('~1', '/').replaceAll('~0', '~'))
  .reduce((node, token) => node?.[token], doc);

export class CompositionPanel {
  // `edit(pointer, value)` resolves to the new state (value undefined: remove);
  // `value` may be a function of the document, called when the edit is sent.
  constructor(list, settings, edit) {
    Object.assign(this, { list, settings, edit });
    this.selected = 0;
    this.time = 0;
  }

  // Only a layer with keys shows anything new at another time: others keep
  // their fields (and what is being typed into them).
  setTime(time) {
    this.time = time;
    const layer = this.state?.document.layers?.[this.selected];
    if (layer && JSON.stringify(layer).includes('"keyframes"')) this.update(this.state);
  }

  update(state) {
    this.state = state;
    const layers = state.document.layers ?? [];
    this.selected = Math.min(this.selected, layers.length - 1);
    this.list.replaceChildren(...layers.map((layer, i) => {
      const button = element('button', { type: 'button', textContent: `${layerName(layer, i)} (${layer.type})` });
      button.classList.toggle('selected', i === this.selected);
      button.addEventListener('click', () => { this.selected = i; this.update(state); });
      return button;
    }));
    const layer = layers[this.selected];
    if (!layer) return this.settings.replaceChildren();
    // The loader's message goes next to the setting it refused.
    const error = element('div', { className: 'error' });
    // A function value gets the setting as the document holds it when the
    // edit is sent: a key joins the keys the edits before it left.
    const send = (pointer, value, where = error) =>
      this.edit(pointer, typeof value === 'function' ? (doc) => value(valueAtPointer(doc, pointer)) : value)
        .then(() => { where.textContent = ''; })
        .catch((e) => { where.textContent = e.error || e.message; });
    const base = `/layers/${this.selected}`;
    const rows = [];
    const group = (title, fields, object, prefix) => {
      rows.push(element('h3', { textContent: title }));
      for (const [key, type] of Object.entries(fields)) {
        const rowError = element('div', { className: 'error' });
        rows.push(this.setting(key, type, object?.[key], (value) => send(`${prefix}/${key}`, value, rowError), rowError));
      }
    };
    group('Layer', kLayer, layer, base);
    group('Transform', kTransform, layer.transform, `${base}/transform`);
    if (layer.type === 'camera') group('Camera', kCamera, layer.camera, `${base}/camera`);
    if (layer.type === 'light') group('Light', kLight, layer.light, `${base}/light`);
    if (layer.type === 'solid') group('Solid', kSolid, layer, base);
    if (layer.type === 'footage') group('Footage', kFootage, layer, base);
    if (!(layer.effects ?? []).length) {
      const remove = element('button', { type: 'button', textContent: `Remove ${layerName(layer, this.selected)}` });
      remove.addEventListener('click', () => send(base, undefined));
      rows.push(remove);
    }
    this.settings.replaceChildren(...rows, error);
  }

  // One setting: its inputs show the document's value at the current time
  // (empty: the default); a stopwatch where the value may be keyframed.
  setting(key, type, stored, send, error) {
    const animated = isAnimated(stored);
    const value = valueAt(stored, this.time);
    const commit = (v) => {
      const time = this.time;
      return send((now) => (isAnimated(now) && v !== undefined ? withKey(now, time, v) : v));
    };
    const field = (v) => element('input', { type: 'number', step: 'any', value: v ?? '', placeholder: 'default', title: key });
    let inputs;
    if (type.kind === 'flag') {
      const box = element('input', { type: 'checkbox', checked: value === undefined ? key === 'enabled' : !!value, title: key });
      box.addEventListener('change', () => commit(box.checked));
      inputs = [box];
    } else if (type.kind === 'choice') {
      const select = element('select', { title: key }, element('option', { value: '', textContent: '(default)' }),
        ...type.choices.map((c) => element('option', { value: c, textContent: c, selected: c === value })));
      select.addEventListener('change', () => commit(select.value || undefined));
      inputs = [select];
    } else if (type.kind === 'text') {
      const input = element('input', { value: value ?? '', placeholder: 'default', title: key });
      input.addEventListener('change', () => commit(input.value.trim() === '' ? undefined : input.value.trim()));
      inputs = [input];
    } else if (type.kind === 'vector') {
      inputs = [0, 1, 2].map((i) => field(Array.isArray(value) ? value[i] : undefined));
      const change = () => {
        const parts = inputs.map((input) => input.value.trim());
        commit(parts.every((p) => p === '') ? undefined : parts.filter((p) => p !== '').map(Number));
      };
      for (const input of inputs) input.addEventListener('change', change);
    } else {
      const input = field(value);
      input.addEventListener('change', () => commit(input.value.trim() === '' ? undefined : Number(input.value)));
      inputs = [input];
    }
    const label = element('label', { textContent: key.replaceAll('_', ' ') });
    const head = type.animatable ? [this.stopwatch(key, stored, value, send, error), label] : [label];
    const row = element('div', { className: 'setting' }, element('span', {}, ...head), element('div', {}, ...inputs));
    if (animated) row.append(this.keys(stored));
    row.append(error);
    row.dataset.setting = key;
    return row;
  }

  // On: a first key at the current time, with the value shown; off: the
  // value at the current time, without keys.
  stopwatch(key, stored, value, send, error) {
    const animated = isAnimated(stored);
    const button = element('button', { className: `stopwatch${animated ? ' on' : ''}`, type: 'button',
      textContent: animated ? '◆' : '◇', title: `Keyframes of ${key}` });
    button.addEventListener('click', () => {
      if (!animated && (value === undefined || value === null)) {
        error.textContent = `${key}: give it a value first, then turn on its keyframes`;
        return undefined;
      }
      const time = this.time;
      return send((now) => (isAnimated(now) ? valueAt(now, time) : withKey(undefined, time, valueAt(now, time))));
    });
    return button;
  }

  keys(stored) {
    const duration = this.state.composition.duration || 1;
    return element('div', { className: 'keys' }, ...stored.keyframes.map(([t]) =>
      Object.assign(element('span', { title: `${t} s` }), { style: `left: ${(100 * t) / duration}%` })));
  }
}
