// Handles on the image for the point parameters: dragged, they send the
// point's new place in the effect layer's pixels (the frame shows the layer's
// own pixels, so its size maps straight onto the canvas).

export class PointHandles {
  constructor(layer, canvas, controls) {
    Object.assign(this, { layer, canvas, controls });
    this.handles = new Map(); // parameter name -> handle element
  }

  // Puts a handle on each visible, enabled point at its value now.
  update(state) {
    const [width, height] = state.layerSize;
    const shown = new Set();
    for (const param of state.catalog) {
      if (param.type !== 'point' || !param.settable) continue;
      const ui = state.ui.find((u) => u.index === param.index);
      if (ui?.hidden || ui?.disabled) continue;
      shown.add(param.name);
      const handle = this.handles.get(param.name) ?? this.make(param);
      const [x, y] = this.controls.current(param);
      handle.style.left = `${(100 * x) / width}%`;
      handle.style.top = `${(100 * y) / height}%`;
    }
    for (const [name, handle] of this.handles)
      if (!shown.has(name)) { handle.remove(); this.handles.delete(name); }
  }

  make(param) {
    const handle = Object.assign(document.createElement('div'), { className: 'handle', title: param.name });
    handle.dataset.param = param.name;
    const place = (event) => {
      const box = this.canvas.getBoundingClientRect();
      const [width, height] = this.controls.state.layerSize;
      return [((event.clientX - box.left) / box.width) * width, ((event.clientY - box.top) / box.height) * height]
        .map((v) => Math.round(v * 10) / 10);
    };
    handle.addEventListener('pointerdown', (event) => {
      handle.setPointerCapture(event.pointerId);
      event.preventDefault();
    });
    handle.addEventListener('pointermove', (event) => {
      if (!handle.hasPointerCapture(event.pointerId)) return;
      const [x, y] = place(event);
      handle.style.left = `${event.clientX - this.canvas.getBoundingClientRect().left}px`;
      handle.style.top = `${event.clientY - this.canvas.getBoundingClientRect().top}px`;
      this.controls.commit(param, [x, y], true).catch(() => {});
    });
    handle.addEventListener('pointerup', (event) => handle.releasePointerCapture(event.pointerId));
    this.layer.append(handle);
    this.handles.set(param.name, handle);
    return handle;
  }
}
