// The Effect Controls panel, built from the catalogue the plug-in registered:
// groups that open and close, one control per parameter type, a reset button
// each, the loader's message next to a control whose value it refused, and
// the plug-in's UI state (greyed and hidden controls, expressions).

const round = (value, precision) => Number(Number(value).toFixed(Math.max(0, precision ?? 2)));
const hex = (rgb) => '#' + rgb.map((c) => Math.round(c).toString(16).padStart(2, '0')).join('');
const rgbOf = (text) => [1, 3, 5].map((i) => parseInt(text.slice(i, i + 2), 16));

function element(tag, props = {}, ...children) {
  const node = Object.assign(document.createElement(tag), props);
  node.append(...children);
  return node;
}

// The value inputs of one parameter; `commit(value, live)` sends a value.
function valueInputs(param, state, commit) {
  const inputs = [];
  const number = (props) => element('input', { type: 'number', step: 'any', ...props });
  switch (param.type) {
    case 'slider': case 'float': case 'integer': case 'angle': {
      const min = param.sliderMin ?? -180, max = param.sliderMax ?? 180;
      const step = param.type === 'integer' ? 1 : Math.pow(10, -(param.precision ?? 1));
      const range = element('input', { type: 'range', min, max, step, title: param.name });
      const field = number({ min: param.validMin ?? '', max: param.validMax ?? '', title: `${param.name} (${param.range || 'any number'})` });
      range.addEventListener('input', () => { field.value = range.value; commit(Number(range.value), true); });
      field.addEventListener('change', () => { range.value = field.value; commit(Number(field.value)); });
      inputs.push(range, field);
      return { inputs, show: (v) => { range.value = v; field.value = round(v, param.precision ?? 2); } };
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
  // `send(name, value, live)` resolves to the new state or throws the loader's error.
  constructor(root, expressions, send, reset) {
    Object.assign(this, { root, expressions, send, reset });
    this.rows = new Map(); // index -> {row, show, error, param}
  }

  build(state) {
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
    const commit = (value, live) =>
      this.send(param.name, value, live).then(() => { error.textContent = ''; })
        .catch((e) => { error.textContent = e.error || e.message; });
    const { inputs, show } = valueInputs(param, state, commit);
    const resetButton = element('button', { className: 'reset', type: 'button', textContent: '↺', title: `Reset ${param.name}` });
    resetButton.addEventListener('click', () => this.reset(param.name).then(() => { error.textContent = ''; }));
    const row = element('div', { className: 'param' },
      element('label', { textContent: param.name }), element('div', { className: 'value' }, ...inputs), resetButton, error);
    row.dataset.param = param.name;
    this.rows.set(param.index, { row, show, inputs, param, error });
    return row;
  }

  // Values and the plug-in's UI state from a new state.
  update(state) {
    const notes = [];
    for (const ui of state.ui) {
      const entry = this.rows.get(ui.index);
      if (ui.expression) notes.push(`${state.catalog.find((p) => p.index === ui.index)?.name}: ${ui.expression}`);
      if (!entry) continue;
      const value = state.values[entry.param.name];
      const animated = value !== null && typeof value === 'object' && !Array.isArray(value);
      if (!animated) entry.show(value !== undefined ? value : entry.param.default);
      const hidden = ui.hidden || !entry.param.settable;
      entry.row.hidden = hidden;
      entry.row.classList.toggle('disabled', ui.disabled);
      for (const input of entry.inputs) input.disabled = ui.disabled || animated;
      entry.row.title = animated ? 'keyframed in the scene file' : '';
    }
    this.expressions.textContent = notes.length ? `Expressions\n${notes.join('\n')}` : '';
  }
}
