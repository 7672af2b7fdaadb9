// The Effect Controls panel, built from the catalogue the plug-in registered:
// groups that open and close, one control per parameter type, a stopwatch
// (keyframes at the current time) and a reset button each, the loader's
// message next to a control whose value it refused, and the plug-in's UI
// state (greyed and hidden controls, expressions).
import { isAnimated, valueAt, withKey } from './keyframes.js';

const round = (value, precision) => Number(Number(value).toFixed(Math.max(0, precision ?? 2)));
const hex = (rgb) => '#' + rgb.map((c) => Math.round(c).toString(16).padStart(2, '0')).join('');
const rgbOf = (text) => [1, 3, 5].map((i) => parseInt(text.slice(i, i + 2), 16));

export function element(tag, props = {}, ...children) {
  const node = Object.assign(document.createElement(tag), props);
  node.append(...children);
  return node;
}

// The value inputs of one parameter; `commit(value, live)` sends a value.
function valueInputs(param, state, commit) {
  const number = (props) => element('input', { type: 'number', step: 'any', ...props });
  switch (param.type) {
    case 'slider': case 'float': case 'integer': case 'angle': {
      const min = param.sliderMin ?? -180, max = param.sliderMax ?? 180;
      const step = param.type === 'integer' ? 1 : Math.pow(10, -(param.precision ?? 1));
      const range = element('input', { type: 'range', min, max, step, title: param.name });
      const field = number({ min: param.validMin ?? '', max: param.validMax ?? '', title: `${param.name} (${param.range || 'any number'})` });
      range.addEventListener('input', () => { field.value = range.value; commit(Number(range.value), true); });
      field.addEventListener('change', () => { range.value = field.value; commit(Number(field.value)); });
      return { inputs: [range, field], show: (v) => { range.value = v; field.value = round(v, param.precision ?? 2); } };
    }
    case 'checkbox': {
      const box = element('input', { type: 'checkbox', title: param.name });
      box.addEventListener('change', () => commit(box.checked));
      return { inputs: [box], show: (v) => { box.checked = !!v; } };
    }
    case 'popup': case 'layer': {
      const select = element('select', { title: param.name });
      const choices = param.type === 'popup' ? param.choices : [null, ...state.layers];
      for (const choice of choices)
        select.append(element('option', { value: JSON.stringify(choice), textContent: choice ?? 'None' }));
      select.addEventListener('change', () => commit(JSON.parse(select.value)));
      const show = (v) => {
        const text = typeof v === 'number' && param.type === 'popup' ? param.choices[v - 1] : v;
        select.value = JSON.stringify(text ?? null);
      };
      return { inputs: [select], show };
    }
    case 'colour': {
      const colour = element('input', { type: 'color', title: param.name });
      colour.addEventListener('input', () => commit(rgbOf(colour.value), true));
      return { inputs: [colour], show: (v) => { colour.value = hex(v); } };
    }
    case 'point': {
      const x = number({ title: `${param.name} x` }), y = number({ title: `${param.name} y` });
      const send = () => commit([Number(x.value), Number(y.value)]);
      x.addEventListener('change', send);
      y.addEventListener('change', send);
      return { inputs: [x, y], show: (v) => { x.value = round(v[0], 1); y.value = round(v[1], 1); } };
    }
    default:
      return { inputs: [element('span', { textContent: param.type })], show: () => {} };
  }
}

export class EffectControls {
  // `send(name, value, live)` resolves to the new state or throws the loader's
  // error; `value` may be a function, called when the value is sent.
  constructor(root, expressions, send, reset) {
    Object.assign(this, { root, expressions, send, reset });
    this.rows = new Map(); // index -> {row, show, inputs, param, error, stopwatch, keys}
    this.time = 0;
  }

  // The parameter's value in the document (undefined: its default).
  stored(param) { return this.state.values[param.name]; }
  // Its value at `time` (the current time), as the control shows it.
  current(param, time = this.time) {
    const value = valueAt(this.stored(param), time);
    return value === undefined ? param.default : value;
  }

  build(state) {
    this.state = state;
    this.root.replaceChildren();
    this.rows.clear();
    const parents = [this.root];
    for (const param of state.catalog) {
      const parent = parents[parents.length - 1];
      if (param.group === 'start') {
        const details = element('details', { open: !param.collapsed }, element('summary', { textContent: param.name }));
        details.dataset.group = param.name;
        parent.append(details);
        parents.push(details);
        continue;
      }
      if (param.group === 'end') { if (parents.length > 1) parents.pop(); continue; }
      parent.append(this.row(param, state));
    }
    this.update(state);
  }

  row(param, state) {
    const error = element('div', { className: 'error' });
    const done = (promise) => promise.then(() => { error.textContent = ''; })
      .catch((e) => { error.textContent = e.error || e.message; });
    const commit = (value, live) => done(this.commit(param, value, live));
    const { inputs, show } = valueInputs(param, state, commit);
    const stopwatch = element('button', { className: 'stopwatch', type: 'button', textContent: '◇', title: `Keyframes of ${param.name}` });
    stopwatch.addEventListener('click', () => {
      const time = this.time;
      done(this.send(param.name, () => {
        // On: a key of the value at the time; off: that value stays, the keys go.
        const now = this.current(param, time);
        return isAnimated(this.stored(param)) ? now : withKey(undefined, time, now);
      }));
    });
    const resetButton = element('button', { className: 'reset', type: 'button', textContent: '↺', title: `Reset ${param.name}` });
    resetButton.addEventListener('click', () => done(this.reset(param.name)));
    const keys = element('div', { className: 'keys' });
    const row = element('div', { className: 'param' }, stopwatch,
      element('label', { textContent: param.name }), element('div', { className: 'value' }, ...inputs), resetButton,
      keys, error);
    row.dataset.param = param.name;
    this.rows.set(param.index, { row, show, inputs, param, error, stopwatch, keys });
    return row;
  }

  // Sends a new value of `param`: a keyframed parameter gets a key at the
  // current time, others the value. The key joins the keys as they are when
  // it is sent, so that one made before the last answer came is kept.
  commit(param, value, live) {
    const time = this.time;
    return this.send(param.name, () => {
      const stored = this.stored(param);
      return isAnimated(stored) ? withKey(stored, time, value) : value;
    }, live);
  }

  setTime(time) {
    this.time = time;
    for (const entry of this.rows.values()) entry.show(this.current(entry.param));
  }

  // Values and the plug-in's UI state from a new state.
  update(state) {
    this.state = state;
    const notes = [];
    const duration = state.composition.duration || 1;
    for (const ui of state.ui) {
      const entry = this.rows.get(ui.index);
      if (ui.expression) notes.push(`${state.catalog.find((p) => p.index === ui.index)?.name}: ${ui.expression}`);
      if (!entry) continue;
      const stored = this.stored(entry.param);
      entry.show(this.current(entry.param));
      entry.stopwatch.classList.toggle('on', isAnimated(stored));
      entry.stopwatch.textContent = isAnimated(stored) ? '◆' : '◇';
      entry.keys.replaceChildren(...(isAnimated(stored) ? stored.keyframes : []).map(([t]) =>
        Object.assign(element('span', { title: `${t} s` }), { style: `left: ${(100 * t) / duration}%` })));
      entry.row.hidden = ui.hidden || !entry.param.settable;
      entry.row.classList.toggle('disabled', ui.disabled);
      for (const input of entry.inputs) input.disabled = ui.disabled;
    }
    this.expressions.textContent = notes.length ? `Expressions\n${notes.join('\n')}` : '';
  }
}
