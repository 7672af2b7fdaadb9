// The viewer: renders the current revision, first a preview at a downsample
// that answers fast, then at full size. A newer revision aborts what is in
// flight, and a frame that arrives for an older one is not drawn.
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
  }

  // The downsample whose frame renders within the budget, judged by the
  // last full-size frame (a frame's time goes with its pixel count).
  previewDownsample() {
    if (this.fullMs === null) return 4;
    return Math.min(8, Math.max(1, Math.ceil(Math.sqrt(this.fullMs / kPreviewBudgetMs))));
  }

  async show(revision, time = 0) {
    const generation = ++this.generation;
    this.controller?.abort();
    const controller = (this.controller = new AbortController());
    const preview = this.previewDownsample();
    const steps = preview > 1 ? [preview, 1] : [1];
    try {
      for (const downsample of steps) {
        const frame = await getFrame({ revision, depth: this.depth, downsample, time }, controller.signal);
        if (!frame || generation !== this.generation) return;
        if (downsample === 1) this.fullMs = frame.renderMs;
        this.draw({ ...frame, time });
      }
    } catch (e) {
      if (generation === this.generation) this.onStatus(e.message);
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

  // Size on screen: a full frame's size at 100 %, or fitted to the viewer.
  layout() {
    const { width, height } = this.composition;
    let scale = 1;
    if (this.zoom === 'fit') {
      const box = this.stage.parentElement.getBoundingClientRect();
      scale = Math.min((box.width - 20) / width, (box.height - 20) / height) || 1;
    }
    this.scale = scale;
    this.canvas.style.width = `${width * scale}px`;
    this.canvas.style.height = `${height * scale}px`;
  }
}
