// Keyframed values as the scene format writes them: {"keyframes": [[t, v], ...]},
// times in composition seconds. Numbers and arrays of numbers move linearly
// between keys; other values (choices, switches, layers) hold until the next
// key; before the first key and after the last the value holds.

export const isAnimated = (value) =>
  value !== null && typeof value === 'object' && !Array.isArray(value) && Array.isArray(value.keyframes);

const lerp = (a, b, f) => (Array.isArray(a) ? a.map((x, i) => lerp(x, b[i], f)) : a + (b - a) * f);
const numeric = (v) => typeof v === 'number' || (Array.isArray(v) && v.every((x) => typeof x === 'number'));

export function valueAt(value, time) {
  if (!isAnimated(value) || value.keyframes.length === 0) return value;
  const keys = value.keyframes;
  if (time <= keys[0][0]) return keys[0][1];
  for (let i = 1; i < keys.length; ++i) {
    const [t0, v0] = keys[i - 1], [t1, v1] = keys[i];
    if (time < t1) return numeric(v0) && numeric(v1) ? lerp(v0, v1, (time - t0) / (t1 - t0)) : v0;
  }
  return keys[keys.length - 1][1];
}

// `value` with a key at `time` holding `key` (one already there is replaced).
export function withKey(value, time, key) {
  const keys = (isAnimated(value) ? value.keyframes : []).filter(([t]) => Math.abs(t - time) > 1e-9);
  keys.push([time, key]);
  keys.sort((a, b) => a[0] - b[0]);
  return { keyframes: keys };
}
