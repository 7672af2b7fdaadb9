// The studio server's API (see StudioServer.h): JSON in and out, frames as raw RGBA.

async function json(response) {
  const body = await response.json().catch(() => ({ error: `HTTP ${response.status}` }));
  if (!response.ok) throw Object.assign(new Error(body.error || `HTTP ${response.status}`), body, { status: response.status });
  return body;
}

const post = (path, body) =>
  fetch(path, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) }).then(json);

export const getState = () => fetch('/api/state').then(json);
export const setParam = (name, value, live = false) => post('/api/param', { name, value, live });
export const editScene = (pointer, value) =>
  post('/api/edit', value === undefined ? { pointer, remove: true } : { pointer, value });
export const undo = () => post('/api/undo', {});
export const redo = () => post('/api/redo', {});
export const listFiles = () => fetch('/api/files').then(json);
export const listImages = () => fetch('/api/images').then(json);
export const openScene = (path) => post('/api/open', { path });
export const saveScene = (path) => post('/api/save', { path });
export const resetParams = (name) => post('/api/reset', name ? { name } : {});

// The frame of `revision`, or null when it went stale (or was aborted).
export async function getFrame({ revision, depth, downsample, time }, signal) {
  const query = new URLSearchParams({ rev: revision, depth, ds: downsample, t: time || 0 });
  let response;
  try {
    response = await fetch(`/api/frame?${query}`, { signal });
  } catch (e) {
    if (e.name === 'AbortError') return null;
    throw e;
  }
  if (response.status === 409) return null;
  if (!response.ok) await json(response);
  const header = (name) => Number(response.headers.get(name));
  return {
    width: header('X-Width'), height: header('X-Height'), depth: header('X-Depth'),
    downsample: header('X-Downsample'), revision: header('X-Revision'), renderMs: header('X-Render-Ms'),
    pixels: new Uint8ClampedArray(await response.arrayBuffer()),
  };
}
export const startRender = (request) => post('/api/render', request);
export const renderProgress = () => fetch('/api/render').then(json);
export const cancelRender = () => post('/api/render/cancel', {});
