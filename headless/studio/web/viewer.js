// The viewer: renders the current revision, first a preview at a downsample
// that answers fast, then at full size. A newer revision aborts what is in
// flight, and a frame that arrives for an older one is not drawn. Fit, or a
// zoom in percent; the image is panned by dragging it.
import { getFrame } from './api.js';

const kPreviewBudgetMs = 40; // what a preview may take to render

export class Viewer {
  constructor(canvas, stage, onStatus) {
    Object.assign(this, { canvas, stage, onStatus });
    this.context = canvas.getContext('2d');
    this.depth = 8;
    this.zoom = 'fit';
    this.fullMs = null; // the last full-size render time
    this.generation = 0;
    this.controller = null;
    this.composition = { width: 1, height: 1 }; // the effect layer's size: a full frame's
    this.lastFrame = null;
    this.panning();
  }

  // Dragging the image (not a handle) scrolls the viewer.
  panning() {
    const scroller = this.stage.parentElement;
    let from = null;
    this.canvas.addEventListener('pointerdown', (e) => {
      if (e.button !== 0) return;
      from = { x: e.clientX, y: e.clientY, left: scroller.scrollLeft, top: scroller.scrollTop };
      this.canvas.setPointerCapture(e.pointerId);
      e.preventDefault();
    });
    this.canvas.addEventListener('pointermove', (e) => {
      if (!from || !this.canvas.hasPointerCapture(e.pointerId)) return;
      scroller.scrollLeft = from.left - (e.clientX - from.x);
      scroller.scrollTop = from.top - (e.clientY - from.y);
    });
    this.canvas.addEventListener('pointerup', (e) => { from = null; this.canvas.releasePointerCapture(e.pointerId); });
  }

  // The downsample whose frame renders within the budget, judged by the
  // last full-size frame (a frame's time goes with its pixel count).
  previewDownsample() {
    if (this.fullMs === null) return 4;
    return Math.min(8, Math.max(1, Math.ceil(Math.sqrt(this.fullMs / kPreviewBudgetMs))));
  }

  async show(revision, time = 0) {
    const preview = this.previewDownsample();
    return this.render(revision, time, preview > 1 ? [preview, 1] : [1]);
  }

  // One frame at the preview's downsample, for playing: resolves once it is
  // drawn (true), dropped for a newer request (false) or refused (null).
  showFrame(revision, time) {
    return this.render(revision, time, [this.previewDownsample()]);
  }

  async render(revision, time, steps) {
    const generation = ++this.generation;
    this.controller?.abort();
    const controller = (this.controller = new AbortController());
    try {
      for (const downsample of steps) {
        const frame = await getFrame({ revision, depth: this.depth, downsample, time }, controller.signal);
        if (!frame || generation !== this.generation) return false;
        if (downsample === 1) this.fullMs = frame.renderMs;
        this.draw({ ...frame, time });
      }
      return true;
    } catch (e) {
      if (generation === this.generation) this.onStatus(e.message);
      return null;
    }
  }

  draw(frame) {
    this.canvas.width = frame.width;
    this.canvas.height = frame.height;
    this.context.putImageData(new ImageData(frame.pixels, frame.width, frame.height), 0, 0);
    this.lastFrame = frame;
    Object.assign(this.canvas.dataset, {
      revision: frame.revision, downsample: frame.downsample, depth: frame.depth, renderMs: frame.renderMs, time: frame.time,
    });
    this.layout();
    document.getElementById('render-time').textContent =
      `${frame.renderMs.toFixed(1)} ms (1/${frame.downsample}, ${frame.depth} bpc)`;
    this.canvas.dispatchEvent(new CustomEvent('frame-drawn', { detail: { revision: frame.revision, downsample: frame.downsample, time: frame.time } }));
  }

  // Size on screen: a full frame's size times the zoom, or fitted to the viewer.
  layout() {
    const { width, height } = this.composition;
    let scale = this.zoom === 'fit' ? 1 : Number(this.zoom) / 100;
    if (this.zoom === 'fit') {
      const box = this.stage.parentElement.getBoundingClientRect();
      scale = Math.min((box.width - 20) / width, (box.height - 20) / height) || 1;
    }
    this.scale = scale;
    this.canvas.style.width = `${width * scale}px`;
    this.canvas.style.height = `${height * scale}px`;
  }
}
