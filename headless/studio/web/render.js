// The Render panel: frames of the scene as it stands written to files in the
// scene's folder by the server (veltrix-render's own frame plan, renderer and
// writers), with its progress polled and shown here. Edits go on while it
// renders; the files hold the scene as it was when Render was pressed, the
// changes made before it included.
import * as api from './api.js';

const kPollMs = 150;

export class RenderPanel {
  // `fields`: {output, frames, depth, downsample, alpha, colorspace, half, compression, overwrite,
  // start, cancel, progress, text, error, afterChanges}; `afterChanges(request)`
  // makes the request once the changes before it are answered.
  constructor(fields) {
    Object.assign(this, fields);
    this.start.addEventListener('click', () => this.render());
    this.cancel.addEventListener('click', () => api.cancelRender().catch(() => {}));
    this.timer = null;
  }

  // A new scene: its default output name and the current frame.
  opened(state, frame) {
    const stem = state.file.replace(/\.json$/, '');
    this.output.value = `out/${stem}_####.png`;
    this.setFrame(frame);
  }

  // The frames field follows the time slider until someone types in it.
  setFrame(frame) {
    if (!this.frames.dataset.typed) this.frames.value = String(frame);
  }

  // A page opened while a render runs (or after one) shows it.
  async resume() {
    const progress = await api.renderProgress();
    if (progress.state === 'idle') return;
    this.show(progress);
    if (progress.state === 'running') this.poll();
  }

  async render() {
    this.error.textContent = '';
    const request = { output: this.output.value.trim(), frames: this.frames.value.trim(), overwrite: this.overwrite.checked };
    if (this.depth.value !== '0') request.depth = Number(this.depth.value);
    if (this.downsample.value.trim() !== '') request.downsample = Number(this.downsample.value);
    // The file options go only when set, so that the format's defaults stay the server's.
    if (this.alpha.value) request.alpha = this.alpha.value;
    if (this.colorspace.value.trim()) request.colorspace = this.colorspace.value.trim();
    if (this.half.checked) request.half = true;
    if (this.compression.value.trim()) request.compression = this.compression.value.trim();
    try {
      this.show(await this.afterChanges(() => api.startRender(request)));
      this.poll();
    } catch (e) {
      this.error.textContent = e.place ? `${e.place}: ${e.error}` : e.error || e.message;
    }
  }

  poll() {
    clearTimeout(this.timer);
    this.timer = setTimeout(async () => {
      try {
        const progress = await api.renderProgress();
        this.show(progress);
        if (progress.state === 'running') this.poll();
      } catch (e) {
        this.error.textContent = e.error || e.message;
      }
    }, kPollMs);
  }

  show(progress) {
    const { state, total = 0, done = 0, files = [], elapsedMs = 0, error } = progress;
    Object.assign(this.progress, { max: Math.max(1, total), value: done });
    this.progress.dataset.state = state;
    this.start.disabled = state === 'running';
    this.cancel.disabled = state !== 'running';
    const last = files.length ? `, last ${files[files.length - 1]}` : '';
    const words = { running: 'rendering', done: 'done', cancelled: 'cancelled', failed: 'failed' };
    this.text.textContent = `${words[state] ?? state}: ${done} of ${total} frames${last} (${(elapsedMs / 1000).toFixed(1)} s)`;
    if (error) this.error.textContent = error;
  }
}
