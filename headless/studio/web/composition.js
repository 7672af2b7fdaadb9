// The composition panel: the layers, selectable, with their transform and
// camera or light settings as the scene format names them; cameras and lights
// added and removed. Every change is an edit of the document at a JSON
// pointer (POST /api/edit), checked by the scene loader like any other; an
// empty field removes the key, so the layer takes its default again.
import { element } from './controls.js';

const vector = { kind: 'vector' }, number = { kind: 'number' }, flag = { kind: 'flag' };
const choice = (...choices) => ({ kind: 'choice', choices });
const kTransform = {
  anchor_point: vector, position: vector, point_of_interest: vector, scale: vector, orientation: vector,
  x_rotation: number, y_rotation: number, z_rotation: number,
};
const kCamera = {
  zoom: number, depth_of_field: flag, focus_distance: number, aperture: number, blur_level: number,
  projection: choice('perspective', 'orthographic'),
};
const kLight = {
  type: choice('parallel', 'spot', 'point', 'ambient'), intensity: number, color: vector, cone_angle: number,
  cone_feather: number, shadow_darkness: number, shadow_diffusion: number, casts_shadows: flag,
};

const layerName = (layer, i) => layer.name ?? `${layer.type} ${i + 1}`;

export class CompositionPanel {
  // `edit(pointer, value)` resolves to the new state (value undefined: remove).
  constructor(list, settings, edit) {
    Object.assign(this, { list, settings, edit });
    this.selected = 0;
  }

  update(state) {
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
    const error = element('div', { className: 'error' });
    const send = (pointer, value) => this.edit(pointer, value).then(() => { error.textContent = ''; })
      .catch((e) => { error.textContent = e.error || e.message; });
    const base = `/layers/${this.selected}`;
    const rows = [];
    const group = (title, fields, object, prefix) => {
      rows.push(element('h3', { textContent: title }));
      for (const [key, type] of Object.entries(fields))
        rows.push(this.setting(key, type, object?.[key], (value) => send(`${prefix}/${key}`, value)));
    };
    group('Transform', kTransform, layer.transform, `${base}/transform`);
    if (layer.type === 'camera') group('Camera', kCamera, layer.camera, `${base}/camera`);
    if (layer.type === 'light') group('Light', kLight, layer.light, `${base}/light`);
    if (layer.type === 'camera' || layer.type === 'light') {
      const remove = element('button', { type: 'button', textContent: `Remove ${layerName(layer, this.selected)}` });
      remove.addEventListener('click', () => send(base, undefined));
      rows.push(remove);
    }
    this.settings.replaceChildren(...rows, error);
  }

  // One setting: its inputs show the document's value (empty: the default).
  setting(key, type, value, send) {
    const animated = value !== null && typeof value === 'object' && !Array.isArray(value);
    const field = (v) => element('input', { type: 'number', step: 'any', value: v ?? '', placeholder: 'default', title: key });
    let inputs;
    if (type.kind === 'flag') {
      const box = element('input', { type: 'checkbox', checked: !!value, title: key });
      box.addEventListener('change', () => send(box.checked));
      inputs = [box];
    } else if (type.kind === 'choice') {
      const select = element('select', { title: key }, element('option', { value: '', textContent: '(default)' }),
        ...type.choices.map((c) => element('option', { value: c, textContent: c, selected: c === value })));
      select.addEventListener('change', () => send(select.value || undefined));
      inputs = [select];
    } else if (type.kind === 'vector') {
      inputs = [0, 1, 2].map((i) => field(Array.isArray(value) ? value[i] : undefined));
      const commit = () => {
        const parts = inputs.map((input) => input.value.trim());
        send(parts.every((p) => p === '') ? undefined : parts.filter((p) => p !== '').map(Number));
      };
      for (const input of inputs) input.addEventListener('change', commit);
    } else {
      const input = field(value);
      input.addEventListener('change', () => send(input.value.trim() === '' ? undefined : Number(input.value)));
      inputs = [input];
    }
    if (animated) for (const input of inputs) Object.assign(input, { disabled: true, title: `${key}: keyframed in the scene file` });
    const row = element('div', { className: 'setting' }, element('label', { textContent: key.replaceAll('_', ' ') }),
      element('div', {}, ...inputs));
    row.dataset.setting = key;
    return row;
  }
}
