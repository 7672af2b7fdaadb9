// Veltrix Studio in a real browser: Debian's chromium, headless, driven by
// playwright-core against a veltrix-studio started for examples/texture.json.
// CTest runs it (tests/CMakeLists.txt) with the paths of the programs in the
// environment; nothing is downloaded at run time.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, symlinkSync, rmSync, mkdirSync, copyFileSync, existsSync, readFileSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import http from 'node:http';
import { chromium } from 'playwright-core';
import { readPng } from './png.mjs';

const { VELTRIX_STUDIO, VELTRIX_RENDER, VELTRIX_SOURCE_DIR, VELTRIX_STUDIO_SCREENSHOT } = process.env;
if (!VELTRIX_STUDIO || !VELTRIX_RENDER || !VELTRIX_SOURCE_DIR)
  throw new Error('VELTRIX_STUDIO, VELTRIX_RENDER and VELTRIX_SOURCE_DIR name the programs and the tree: run it through CTest');
const examples = join(VELTRIX_SOURCE_DIR, 'examples');
const kChromiumFlags = ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--no-first-run'];

let studio, url, port, context, page;
const work = mkdtempSync(join(tmpdir(), 'veltrix-studio-test-'));

function startStudio(scene) {
  const child = spawn(VELTRIX_STUDIO, [scene], { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const line = out.match(/^(http:\/\/127\.0\.0\.1:(\d+)\/)\n/);
      if (line) resolve({ child, url: line[1], port: Number(line[2]) });
    });
    child.on('exit', (code) => reject(new Error(`veltrix-studio exited with ${code} before listening`)));
  });
}

// One raw request to the studio (node's fetch will not send a foreign Host).
function request({ method = 'GET', path, headers = {}, body }, agent) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, method, path, agent,
      headers: { Host: `127.0.0.1:${port}`, ...headers } }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, body: Buffer.concat(chunks).toString() }));
    });
    req.on('error', reject);
    req.end(body);
  });
}

const health = async () => JSON.parse((await request({ path: '/api/health' })).body);

// Waits in the page for a frame of revision `minRevision` or later (at
// `downsample` and `time` when given) to be drawn; resolves to its pixels, as
// received and as on the canvas.
const waitForDrawn = (minRevision, downsample, time) => page.evaluate(([minRevision, downsample, time]) => new Promise((resolve) => {
  const canvas = document.getElementById('frame');
  canvas.addEventListener('frame-drawn', function on(e) {
    const { detail } = e;
    if (detail.revision < minRevision || (downsample && detail.downsample !== downsample) ||
        (time !== null && Math.abs(detail.time - time) > 1e-9)) return;
    canvas.removeEventListener('frame-drawn', on);
    const { width, height } = canvas;
    // Base64: the protocol carries a string far faster than an array of numbers.
    const base64 = (bytes) => {
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      return btoa(text);
    };
    resolve({ ...detail, width, height, received: base64(window.studio.viewer.lastFrame.pixels),
      shown: base64(canvas.getContext('2d').getImageData(0, 0, width, height).data) });
  });
}), [minRevision, downsample ?? 0, time ?? null]).then((frame) =>
  ({ ...frame, received: Buffer.from(frame.received, 'base64'), shown: Buffer.from(frame.shown, 'base64') }));

// A scene folder of the test's own (the example's images linked in), so that
// saving writes nothing into the source tree.
function sceneFolder(name) {
  const folder = join(work, name);
  mkdirSync(folder);
  symlinkSync(join(examples, 'images'), join(folder, 'images'));
  return folder;
}

// Renders `doc` with veltrix-render (8 bits, at the frame's downsample, `args`
// more) and checks the page's pixels of frame `drawn` against it.
function expectSamePixels(doc, drawn, args = []) {
  const folder = sceneFolder(`render-${drawn.revision}-${drawn.downsample}-${args.join('')}`);
  writeFileSync(join(folder, 'edited.json'), JSON.stringify(doc));
  const png = join(folder, 'edited.png');
  execFileSync(VELTRIX_RENDER, [join(folder, 'edited.json'), '-o', png, '--depth', '8',
    '--downsample', String(drawn.downsample), '--quiet', ...args]);
  const reference = readPng(png);
  assert.deepEqual([drawn.width, drawn.height], [reference.width, reference.height]);
  assert.ok(drawn.received.equals(Buffer.from(reference.pixels)), 'received pixels equal the file');
  // The canvas keeps colours premultiplied: opaque pixels must match exactly,
  // others in alpha and in premultiplied colour (to its rounding).
  let differing = 0;
  for (let i = 0; i < reference.pixels.length; i += 4) {
    const alpha = reference.pixels[i + 3];
    if (drawn.shown[i + 3] !== alpha) { ++differing; continue; }
    for (let k = 0; k < 3; ++k) {
      const want = reference.pixels[i + k] * alpha / 255, got = drawn.shown[i + k] * alpha / 255;
      if (Math.abs(want - got) > (alpha === 255 ? 0 : 1)) { ++differing; break; }
    }
  }
  assert.equal(differing, 0, `pixels on the canvas that differ from veltrix-render's at 1/${drawn.downsample}`);
}

const documentNow = () => page.evaluate(() => fetch('/api/scene').then((r) => r.json()));
const effectParams = (doc) => doc.layers.find((l) => l.effects).effects[0].params;
// Moves the time slider as a person would (an input event).
const scrubTo = (frame) => page.evaluate((frame) => {
  const slider = document.getElementById('time');
  slider.value = String(frame);
  slider.dispatchEvent(new Event('input', { bubbles: true }));
}, frame);

before(async () => {
  const folder = sceneFolder('scene');
  copyFileSync(join(examples, 'texture.json'), join(folder, 'texture.json'));
  ({ child: studio, url, port } = await startStudio(join(folder, 'texture.json')));
  context = await chromium.launchPersistentContext(join(work, 'profile'), {
    executablePath: '/usr/bin/chromium', headless: true, args: kChromiumFlags, viewport: { width: 1280, height: 760 } });
  page = await context.newPage();
  await page.goto(url);
  await page.waitForFunction(() => document.getElementById('frame').dataset.downsample === '1');
});

after(async () => {
  await context?.close();
  if (studio) {
    const report = await health();
    assert.equal(report.ledgerClean, true, report.ledger);
    const exited = new Promise((resolve) => studio.on('exit', (code, signal) => resolve({ code, signal })));
    studio.kill('SIGTERM');
    assert.deepEqual(await exited, { code: 0, signal: null }, 'veltrix-studio ends cleanly');
  }
  rmSync(work, { recursive: true, force: true });
});

test('the Rotation Y slider previews the pixels veltrix-render draws', async () => {
  const revision = await page.evaluate(() => window.studio.state.revision);
  const drawn = waitForDrawn(revision + 1);
  const slider = page.locator('[data-param="Rotation Y"] input[type=range]');
  const box = await slider.boundingBox();
  await page.mouse.click(box.x + box.width * 0.7, box.y + box.height / 2);
  const preview = await drawn;
  const doc = await documentNow();
  assert.notEqual(effectParams(doc)['Rotation Y'], 35, 'the slider changed the value');
  expectSamePixels(doc, preview);
});

test('a control layer greys out the placement controls, and none enables them again', async () => {
  const placement = ['Position XY', 'Position Z', 'Rotation X', 'Rotation Y', 'Rotation Z', 'Radius Scale'];
  const states = () => page.evaluate((names) => names.map((n) => {
    const row = document.querySelector(`[data-param="${n}"]`);
    return row.classList.contains('disabled') && [...row.querySelectorAll('input')].every((i) => i.disabled);
  }), placement);
  assert.deepEqual(await states(), placement.map(() => false));
  // What the plug-in keeps hidden is not shown.
  const hiddenShown = await page.evaluate(() => window.studio.state.ui.filter((u) => u.hidden)
    .map((u) => document.querySelector(`[data-param="${window.studio.state.catalog.find((p) => p.index === u.index).name}"]`))
    .map((row) => row && row.offsetParent !== null));
  assert.ok(hiddenShown.length > 0);
  assert.deepEqual(hiddenShown, hiddenShown.map(() => false));
  await page.selectOption('[data-param="Control Layer"] select', { label: 'Checker' });
  await page.waitForFunction(() => document.querySelector('[data-param="Position XY"]').classList.contains('disabled'));
  assert.deepEqual(await states(), placement.map(() => true));
  assert.match(await page.textContent('#expressions'), /thisComp\.layer\("Checker"\)/);
  await page.selectOption('[data-param="Control Layer"] select', { label: 'None' });
  await page.waitForFunction(() => !document.querySelector('[data-param="Position XY"]').classList.contains('disabled'));
  assert.deepEqual(await states(), placement.map(() => false));
  assert.equal((await page.textContent('#expressions')).trim(), '');
});

test('a value outside the valid range gets the scene loader\'s message next to the control', async () => {
  const field = page.locator('[data-param="Radius Scale"] input[type=number]');
  await field.fill('40000');
  await field.press('Enter');
  await page.waitForFunction(() => document.querySelector('[data-param="Radius Scale"] .error').textContent !== '');
  assert.match(await page.textContent('[data-param="Radius Scale"] .error'), /outside the valid range of "Radius Scale"/);
});

test('a parameter keyframed at two times is interpolated when the time is scrubbed', async () => {
  const field = page.locator('[data-param="Rotation Z"] input[type=number]');
  const last = Number(await page.getAttribute('#time', 'max'));
  await scrubTo(0);
  await page.click('[data-param="Rotation Z"] .stopwatch');
  await page.waitForFunction(() => document.querySelector('[data-param="Rotation Z"] .keys span'));
  await field.fill('-90');
  await field.press('Tab');
  await scrubTo(last);
  await field.fill('90');
  await field.press('Tab');
  await page.waitForFunction(() => document.querySelectorAll('[data-param="Rotation Z"] .keys span').length === 2);
  const keys = effectParams(await documentNow())['Rotation Z'].keyframes;
  const rate = await page.evaluate(() => window.studio.state.composition.frameRate);
  assert.deepEqual(keys, [[0, -90], [last / rate, 90]]);

  const middle = Math.round(last / 2);
  const revision = await page.evaluate(() => window.studio.state.revision);
  const drawn = waitForDrawn(revision, 1, middle / rate);
  await scrubTo(middle);
  assert.equal(Number(await field.inputValue()), Number((-90 + 180 * middle / last).toFixed(2)));
  expectSamePixels(await documentNow(), await drawn, ['--frame', String(middle)]);
  await scrubTo(0);
});

test('dragging the Position XY handle moves the point, and one undo takes the whole drag back', async () => {
  const handle = page.locator('.handle[data-param="Position XY"]');
  const before = effectParams(await documentNow())['Position XY'];
  const box = await handle.boundingBox();
  const scale = await page.evaluate(() => {
    const canvas = document.getElementById('frame');
    return canvas.getBoundingClientRect().width / window.studio.state.layerSize[0];
  });
  const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
  await page.mouse.move(x, y);
  await page.mouse.down();
  await page.mouse.move(x + 60, y + 30, { steps: 6 });
  await page.mouse.up();
  await page.waitForFunction(([x]) => {
    const v = window.studio.state.values['Position XY'];
    return v && Math.abs(v[0] - x) < 3;
  }, [320 + 60 / scale]);
  const moved = effectParams(await documentNow())['Position XY'];
  assert.ok(Math.abs(moved[1] - (180 + 30 / scale)) < 3, `moved to ${moved}`);
  await page.click('#undo');
  await page.waitForFunction(() => window.studio.state.values['Position XY'] === undefined);
  assert.equal(before, undefined);
  assert.deepEqual(await page.evaluate(() => window.studio.state.values['Position XY']), undefined);
});

// Does `steps` in the page in one go, before any answer can come: ['scrub',
// frame], ['click', selector] or ['type', selector, value].
const inOneGo = (steps) => page.evaluate((steps) => {
  for (const [what, target, value] of steps) {
    const element = what === 'scrub' ? document.getElementById('time') : document.querySelector(target);
    if (what === 'click') { element.click(); continue; }
    element.value = String(what === 'scrub' ? target : value);
    element.dispatchEvent(new Event(what === 'scrub' ? 'input' : 'change', { bubbles: true }));
  }
}, steps);

test('changes made faster than the server answers reach it in the order they were made, and the page shows what it keeps', async () => {
  const last = Number(await page.getAttribute('#time', 'max'));
  const rate = await page.evaluate(() => window.studio.state.composition.frameRate);
  const middle = Math.round(last / 2);
  const before = await page.evaluate(() => window.studio.state.values['Rotation X']);
  const [x, y, fill] = ['[data-param="Rotation X"]', '[data-param="Rotation Y"]', '#layer-settings [data-setting="intensity"]'];
  // Waits for `check` in the page, then holds the page to the server's latest revision.
  const settled = async (check, arg) => {
    await page.waitForFunction(check, arg, { timeout: 15000 });
    assert.equal(await page.evaluate(() => window.studio.state.revision), (await health()).revision, 'the page shows the server\'s scene');
    return documentNow();
  };
  // Twelve values of one control and its reset, then keys at three times on another, just keyframed.
  await inOneGo([...Array.from({ length: 12 }, (_, i) => ['type', `${y} input[type=number]`, i + 1]), ['click', `${y} .reset`],
    ['scrub', 0], ['click', `${x} .stopwatch`], ['type', `${x} input[type=number]`, 10], ['scrub', middle],
    ['type', `${x} input[type=number]`, 20], ['scrub', last], ['type', `${x} input[type=number]`, 30], ['scrub', 0]]);
  const keys = JSON.stringify([[0, 10], [middle / rate, 20], [last / rate, 30]]);
  let params = effectParams(await settled((keys) => JSON.stringify(window.studio.state.values['Rotation X']?.keyframes) === keys, keys));
  assert.deepEqual([JSON.stringify(params['Rotation X'].keyframes), params['Rotation Y']], [keys, undefined]);
  // A light's setting in the composition panel, keyed at two times.
  await page.click('#layers button:has-text("Fill")');
  await inOneGo([['scrub', 0], ['click', `${fill} .stopwatch`], ['type', `${fill} input`, 20], ['scrub', last],
    ['type', `${fill} input`, 60], ['scrub', 0]]);
  const lightKeys = JSON.stringify([[0, 20], [last / rate, 60]]);
  let doc = await settled((keys) => JSON.stringify(window.studio.state.document.layers[1].light.intensity.keyframes) === keys, lightKeys);
  assert.equal(JSON.stringify(doc.layers[1].light.intensity.keyframes), lightKeys);
  // Eight undos take back, in turn, the light's keys and stopwatch, those of Rotation X and the reset.
  await inOneGo(Array(8).fill(['click', '#undo']));
  doc = await settled((before) => window.studio.state.document.layers[1].light.intensity === 35 &&
    window.studio.state.values['Rotation X'] === before && window.studio.state.values['Rotation Y'] === 12, before);
  params = effectParams(doc);
  assert.deepEqual([doc.layers[1].light.intensity, params['Rotation X'], params['Rotation Y']], [35, before, 12]);
});

test('the composition panel edits a light, as veltrix-render then draws it, and adds and removes a camera', async () => {
  await page.click('#layers button:has-text("Sun")');
  const revision = await page.evaluate(() => window.studio.state.revision);
  const drawn = waitForDrawn(revision + 1, 1);
  const intensity = page.locator('#layer-settings [data-setting="intensity"] input');
  await intensity.fill('40');
  await intensity.press('Tab');
  const frame = await drawn; // the edit is in: asked for first, the scene could come back without it
  const doc = await documentNow();
  assert.equal(doc.layers[0].light.intensity, 40);
  expectSamePixels(doc, frame);

  await page.click('#add-camera');
  await page.waitForFunction(() => window.studio.state.document.layers.some((l) => l.type === 'camera'));
  await page.click('#layer-settings button:has-text("Remove Camera 1")');
  await page.waitForFunction(() => !window.studio.state.document.layers.some((l) => l.type === 'camera'));
});

test('a light\'s position keyframed at two times moves it when the time is scrubbed', async () => {
  await page.click('#layers button:has-text("Sun")');
  const last = Number(await page.getAttribute('#time', 'max'));
  const rate = await page.evaluate(() => window.studio.state.composition.frameRate);
  const x = page.locator('#layer-settings [data-setting="position"] input').first();
  const keys = async () => (await documentNow()).layers[0].transform.position.keyframes;
  await scrubTo(0);
  await page.click('#layer-settings [data-setting="position"] .stopwatch');
  await page.waitForFunction(() => document.querySelector('#layer-settings [data-setting="position"] .stopwatch.on'));
  assert.deepEqual(await keys(), [[0, [0, -200, -600]]]);
  await scrubTo(last);
  await x.fill('640');
  await x.press('Tab');
  await page.waitForFunction(() => document.querySelectorAll('#layer-settings [data-setting="position"] .keys span').length === 2);
  assert.deepEqual(await keys(), [[0, [0, -200, -600]], [last / rate, [640, -200, -600]]]);

  const middle = Math.round(last / 3);
  const revision = await page.evaluate(() => window.studio.state.revision);
  const drawn = waitForDrawn(revision, 1, middle / rate);
  await scrubTo(middle);
  assert.ok(Math.abs(Number(await x.inputValue()) - 640 * middle / last) < 1e-6, await x.inputValue());
  expectSamePixels(await documentNow(), await drawn, ['--frame', String(middle)]);

  // Off: the value at the current time stays, the keys go.
  await scrubTo(0);
  await page.click('#layer-settings [data-setting="position"] .stopwatch');
  await page.waitForFunction(() => !document.querySelector('#layer-settings [data-setting="position"] .stopwatch.on'));
  assert.deepEqual((await documentNow()).layers[0].transform.position, [0, -200, -600]);
});

test('a footage layer added from an image in the folder becomes the texture, as veltrix-render draws it', async () => {
  assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('#footage-files option')].map((o) => o.value)),
    ['images/checker.png', 'images/lace.png', 'images/sky.png']);
  await page.selectOption('#footage-files', 'images/lace.png');
  await page.click('#add-footage');
  await page.waitForFunction(() => window.studio.state.layers.includes('lace'));
  const layers = (await documentNow()).layers;
  assert.deepEqual(layers[layers.length - 1], { name: 'lace', type: 'footage', source: 'images/lace.png' });
  assert.equal(await page.textContent('#layers button.selected'), 'lace (footage)');

  const revision = await page.evaluate(() => window.studio.state.revision);
  const drawn = waitForDrawn(revision + 1, 1);
  await page.selectOption('[data-param="Texture"] select', { label: 'lace' });
  const frame = await drawn; // the edit is in: asked for first, the scene could come back without it
  const doc = await documentNow();
  assert.equal(effectParams(doc).Texture, 'lace');
  expectSamePixels(doc, frame);
  // The checker again: later tests count on the layers it uses.
  await page.selectOption('[data-param="Texture"] select', { label: 'Checker' });
  await page.waitForFunction(() => window.studio.state.values.Texture === 'Checker');
});

test('a solid\'s size is edited as veltrix-render then draws it, and a refused size gets its message beside it', async () => {
  await page.click('#layers button:has-text("Surface")');
  const width = page.locator('#layer-settings [data-setting="width"] input');
  let revision = await page.evaluate(() => window.studio.state.revision);
  const drawn = waitForDrawn(revision + 1, 1);
  await width.fill('480');
  await width.press('Tab');
  const frame = await drawn;
  assert.deepEqual([frame.width, frame.height], [480, 360]);
  expectSamePixels(await documentNow(), frame);

  revision = await page.evaluate(() => window.studio.state.revision);
  await width.fill('-5');
  await width.press('Tab');
  await page.waitForFunction(() => document.querySelector('#layer-settings [data-setting="width"] .error').textContent !== '');
  assert.match(await page.textContent('#layer-settings [data-setting="width"] .error'), /-5 is outside 1 to/);
  assert.equal(await page.evaluate(() => window.studio.state.revision), revision, 'refused: nothing changed');
  await page.click('#undo');
  await page.waitForFunction(() => window.studio.state.layerSize[0] === 640);
});

test('play shows the next frame as soon as each renders, and pause stops on a full-size frame', async () => {
  const rate = await page.evaluate(() => window.studio.state.composition.frameRate);
  const revision = await page.evaluate(() => window.studio.state.revision);
  const settled = waitForDrawn(revision, 1, 0);
  await scrubTo(0);
  await settled;
  const played = page.evaluate(() => new Promise((resolve) => {
    const canvas = document.getElementById('frame'), seen = [];
    canvas.addEventListener('frame-drawn', function on(e) {
      seen.push(e.detail.time);
      if (seen.length === 6) { canvas.removeEventListener('frame-drawn', on); resolve(seen); }
    });
  }));
  await page.click('#play');
  const seen = await played;
  await page.click('#play');
  assert.deepEqual(seen, [1, 2, 3, 4, 5, 6].map((n) => n / rate), 'frame after frame, none skipped');
  await page.waitForFunction(() => !window.studio.playing);
  const stopped = await page.evaluate(() => window.studio.time);
  await page.waitForFunction((t) => {
    const d = document.getElementById('frame').dataset;
    return d.downsample === '1' && Math.abs(Number(d.time) - t) < 1e-9;
  }, stopped);
  await new Promise((resolve) => setTimeout(resolve, 300));
  assert.equal(await page.evaluate(() => window.studio.time), stopped, 'paused');
  assert.match(await page.textContent('#play-rate'), /^\d+\.\d fps$/);
  await scrubTo(0);
});

test('at 200 % the image pans when dragged', async () => {
  await page.click('#zoom-200');
  const viewer = page.locator('#viewer');
  assert.deepEqual(await viewer.evaluate((v) => [v.scrollLeft, v.scrollTop]), [0, 0]);
  const box = await viewer.boundingBox();
  const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
  await page.mouse.move(x, y);
  await page.mouse.down();
  await page.mouse.move(x - 150, y - 40, { steps: 5 });
  await page.mouse.up();
  const [left, top] = await viewer.evaluate((v) => [v.scrollLeft, v.scrollTop]);
  assert.equal(left, 150);
  assert.ok(top > 0 && top <= 40, `scrolled down ${top}`);
  await page.click('#zoom-fit');
});

test('a saved scene opens again and renders as veltrix-render renders the file', async () => {
  await page.fill('#save-name', 'saved.json');
  await page.click('#save');
  await page.waitForFunction(() => document.getElementById('status').textContent === 'saved saved.json');
  const saved = join(work, 'scene', 'saved.json');
  assert.ok(existsSync(saved));
  assert.deepEqual(JSON.parse(readFileSync(saved, 'utf8')), await documentNow());
  await page.selectOption('#scene-files', 'saved.json');
  const revision = await page.evaluate(() => window.studio.state.revision);
  const drawn = waitForDrawn(revision + 1, 1);
  await page.click('#open');
  const frame = await drawn;
  expectSamePixels(JSON.parse(readFileSync(saved, 'utf8')), frame);
});

test('a frame range rendered to files from the page shows its progress and matches veltrix-render', async () => {
  await page.fill('#render-frames', '0-2');
  await page.fill('#render-output', 'renders/r_####.png');
  await page.click('#render-start');
  await page.waitForFunction(() => document.getElementById('render-progress').dataset.state === 'done', null, { timeout: 60000 });
  assert.deepEqual(await page.evaluate(() => { const p = document.getElementById('render-progress'); return [p.value, p.max]; }), [3, 3]);
  assert.match(await page.textContent('#render-text'), /^done: 3 of 3 frames, last renders\/r_0002\.png/);
  const progress = await page.evaluate(() => fetch('/api/render').then((r) => r.json()));
  assert.equal(progress.ledger, 'ledger empty\n', 'the render\'s own effect instance gave back all it held');

  const doc = await documentNow();
  const folder = sceneFolder('render-range');
  writeFileSync(join(folder, 'range.json'), JSON.stringify(doc));
  execFileSync(VELTRIX_RENDER, [join(folder, 'range.json'), '--frames', '0-2', '-o', join(folder, 'ref_####.png'), '--quiet']);
  for (const n of ['0000', '0001', '0002']) {
    const ours = readPng(join(work, 'scene', 'renders', `r_${n}.png`)), theirs = readPng(join(folder, `ref_${n}.png`));
    assert.deepEqual([ours.width, ours.height], [theirs.width, theirs.height]);
    assert.ok(Buffer.from(ours.pixels).equals(Buffer.from(theirs.pixels)), `frame ${n} as veltrix-render writes it`);
  }

  // A long render lets edits through between its frames, and Cancel stops it.
  await page.fill('#render-frames', '0-119');
  await page.fill('#render-output', 'long/l_####.png');
  await page.click('#render-start');
  await page.waitForFunction(() => Number(document.getElementById('render-progress').value) >= 1);
  const emit = page.locator('[data-param="Emit"] input[type=number]');
  await emit.fill('5');
  await emit.press('Tab');
  await page.waitForFunction(() => window.studio.state.values.Emit === 5);
  const during = await page.evaluate(() => fetch('/api/render').then((r) => r.json()));
  assert.equal(during.state, 'running', 'the edit came back while frames were still rendering');
  await page.click('#render-cancel');
  await page.waitForFunction(() => document.getElementById('render-progress').dataset.state === 'cancelled');
  const cancelled = await page.evaluate(() => fetch('/api/render').then((r) => r.json()));
  assert.ok(cancelled.done < 120, `${cancelled.done} frames`);
  for (const file of cancelled.files) assert.ok(readPng(join(work, 'scene', file)).width > 0, file);
  await page.click('#undo');
  await page.waitForFunction(() => window.studio.state.values.Emit === 0);
  await page.fill('#render-frames', '0-2');
  await page.fill('#render-output', 'renders/r_####.png');

  // The same files again are refused unless replacing is allowed.
  await page.click('#render-start');
  await page.waitForFunction(() => /exists/.test(document.getElementById('render-error').textContent));
  const post = (body) => request({ method: 'POST', path: '/api/render', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body) }).then((r) => r.status);
  assert.equal(await post({ output: '../escape_####.png', frames: '0' }), 403);
  assert.equal(await post({ output: 'images/x.png', frames: '0', overwrite: true }), 403, 'a link leading outside');
  assert.equal(await post({ output: 'r_####.png', frames: '9-1' }), 422);
  assert.equal(await post({ output: 'r.exr', frames: '0', depth: 8 }), 422);
  assert.equal(existsSync(join(work, 'escape_0000.png')), false);
  // Allowed, they are replaced.
  const before = statSync(join(work, 'scene', 'renders', 'r_0000.png')).mtimeMs;
  await page.check('#render-overwrite');
  await page.click('#render-start');
  await page.waitForFunction(() => document.getElementById('render-progress').dataset.state === 'done' &&
    document.getElementById('render-error').textContent === '');
  assert.ok(statSync(join(work, 'scene', 'renders', 'r_0000.png')).mtimeMs > before);
  await page.uncheck('#render-overwrite');

  // The file options reach the writer as veltrix-render's options do, and
  // one the format cannot honour gets the renderer's refusal in the page.
  await page.click('#render-file-options summary');
  await page.fill('#render-frames', '0');
  await page.fill('#render-output', 'renders/h_####.exr');
  await page.check('#render-half');
  await page.fill('#render-compression', 'piz');
  await page.click('#render-start');
  await page.waitForFunction(() => document.getElementById('render-progress').dataset.state === 'done' &&
    /h_0000\.exr/.test(document.getElementById('render-text').textContent));
  const info = execFileSync('oiiotool', ['--info', '-v', join(work, 'scene', 'renders', 'h_0000.exr')]).toString();
  assert.match(info, /half/);
  assert.match(info, /compression: "piz"/);
  await page.fill('#render-output', 'renders/p_####.png');
  await page.uncheck('#render-half');
  await page.fill('#render-compression', '');
  await page.selectOption('#render-alpha', 'premultiplied');
  await page.click('#render-start');
  await page.waitForFunction(() => /alpha/.test(document.getElementById('render-error').textContent));
  assert.equal(existsSync(join(work, 'scene', 'renders', 'p_0000.png')), false);
  await page.selectOption('#render-alpha', '');
});

test('requests from elsewhere and paths outside the scene folder are refused', async () => {
  const state = { path: '/api/state' };
  assert.equal((await request(state)).status, 200);
  assert.equal((await request({ ...state, headers: { Origin: 'http://evil.example' } })).status, 403);
  assert.equal((await request({ ...state, headers: { Host: `evil.example:${port}` } })).status, 403);
  assert.equal((await request({ ...state, headers: { Host: `127.0.0.1:${port + 1}` } })).status, 403);
  // A page from another origin in the same browser sends an edit the way a
  // form could (no preflight): the studio refuses it, the scene stays.
  const foreign = http.createServer((req, res) => res.end('<p>elsewhere</p>'));
  await new Promise((resolve) => foreign.listen(0, '127.0.0.1', resolve));
  const other = await context.newPage();
  await other.goto(`http://127.0.0.1:${foreign.address().port}/`);
  const { revision } = await health();
  await other.evaluate((p) => fetch(`http://127.0.0.1:${p}/api/param`, { method: 'POST', mode: 'no-cors',
    headers: { 'Content-Type': 'text/plain' }, body: JSON.stringify({ name: 'Rotation Y', value: 12 }) })
    .catch(() => null), port);
  assert.equal((await health()).revision, revision, 'the foreign page changed nothing');
  await other.close();
  foreign.close();
  for (const path of ['../README.md', '/etc/passwd', 'images/../../README.md', '', 'a//b.json'])
    assert.equal((await request({ method: 'POST', path: '/api/open', headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ path }) })).status, 403, path);
});

test('10,000 malformed API requests leave the server answering and its ledger clean', async () => {
  const agent = new http.Agent({ keepAlive: true, maxSockets: 8 });
  const { revision } = await health();
  let seed = 12345;
  const random = () => ((seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648);
  const pick = (list) => list[Math.floor(random() * list.length)];
  const json = { 'Content-Type': 'application/json' };
  const kinds = [
    () => ({ method: 'POST', path: '/api/param', headers: json, body: Buffer.from(Array.from({ length: 40 }, () => Math.floor(random() * 256))) }),
    () => ({ method: 'POST', path: '/api/param', headers: json, body: pick(['[]', '"x"', '{"name":5,"value":1}', '{"name":"Rotation Y"}', '{', 'null']) }),
    () => ({ method: 'POST', path: '/api/param', headers: json, body: JSON.stringify({ name: `No Such ${Math.floor(random() * 1e6)}`, value: 1 }) }),
    () => ({ method: 'POST', path: '/api/param', headers: json,
      body: pick(['{"name":"Rotation Y","value":"x"}', '{"name":"Rotation Y","value":[1,2]}', '{"name":"Radius Scale","value":-5}',
        '{"name":"Texture","value":"Nowhere"}', '{"name":"Render Side","value":99}', '{"name":"Rotation Y","value":1e999}',
        '{"name":"Position XY","value":[1]}', '{"name":"Rotation Y","value":{"keyframes":[[0]]}}']) }),
    () => ({ path: pick(['/api/frame?ds=abc', '/api/frame?depth=7', '/api/frame?rev=-1', '/api/frame?t=nan', '/api/frame?ds=0', '/api/frame?ds=65']) }),
    () => ({ method: 'POST', path: '/api/open', headers: json, body: JSON.stringify({ path: pick(['../x.json', '/etc/passwd', 'a/../../b', '\u0000', 5]) }) }),
    () => ({ path: pick(['/web/../../etc/passwd', '/web/%2e%2e/x.js', '/web/UPPER.js', '/api/nothing', '/%00']) }),
    () => ({ method: 'POST', path: '/api/reset', headers: json, body: pick(['{"name":12}', '[]', 'x']) }),
    () => ({ method: pick(['DELETE', 'PUT', 'PATCH']), path: '/api/state' }),
    () => ({ method: 'POST', path: '/api/render', headers: json,
      body: pick(['{"output":"../a_####.png"}', JSON.stringify({ output: join(tmpdir(), 'a.png') }), '{"frames":"x"}', '{"frames":"0-999999"}',
        '{"depth":"8"}', '{"downsample":0}', '{"output":"a.txt"}', '{"output":"a.png","frames":"0-3"}', '[]']) }),
    () => ({ method: 'POST', path: '/api/edit', headers: json,
      body: pick(['{"pointer":"/layers/99999999999/x","value":1}', '{"pointer":"/layers/0/light/intensity/x","value":1}',
        '{"pointer":"/layers/2","remove":true}', '{"pointer":"bad","value":1}', '{"pointer":"/layers/0","remove":"x"}',
        '{"pointer":"/composition/width","value":-1}', '{"pointer":"","value":{}}', '{"pointer":"/layers/0/type","value":"sphere"}']) }),
  ];
  const statuses = new Map();
  const unexpected = [];
  let next = 0;
  const total = 10000;
  const worker = async () => {
    while (next < total) {
      const n = next++;
      const spec = n % 500 === 0 ? { method: 'POST', path: '/api/param', headers: json, body: 'x'.repeat(100 * 1024) } : pick(kinds)();
      const { status, body } = await request(spec, agent);
      statuses.set(status, (statuses.get(status) || 0) + 1);
      if ((status < 400 || status >= 500) && unexpected.length < 5)
        unexpected.push(`${spec.method || 'GET'} ${spec.path} ${String(spec.body ?? '').slice(0, 80)} -> ${status} ${body.slice(0, 120)}`);
    }
  };
  await Promise.all(Array.from({ length: 8 }, worker));
  agent.destroy();
  const answered = [...statuses.values()].reduce((a, b) => a + b, 0);
  assert.equal(answered, total);
  assert.deepEqual(unexpected, [], `answers by status: ${JSON.stringify([...statuses])}`);
  const after = await health();
  assert.equal(after.ledgerClean, true, after.ledger);
  assert.equal(after.revision, revision, 'no malformed request changed the scene');
  assert.equal((await request({ path: '/api/state' })).status, 200);
});

test('latency from a slider move to the new preview on screen (reported)', async (t) => {
  const moves = Number(process.env.VELTRIX_STUDIO_MOVES || 50);
  const times = await page.evaluate((moves) => (async () => {
    const range = document.querySelector('[data-param="Rotation Y"] input[type=range]');
    const canvas = document.getElementById('frame');
    const drawnAfter = (revision, full) => new Promise((resolve) => {
      canvas.addEventListener('frame-drawn', function on(e) {
        if (e.detail.revision <= revision || (full && e.detail.downsample !== 1)) return;
        canvas.removeEventListener('frame-drawn', on);
        resolve(e.detail);
      });
    });
    const times = [];
    for (let i = 0; i < moves; ++i) {
      const before = window.studio.state.revision;
      const preview = drawnAfter(before, false), full = drawnAfter(before, true);
      const start = performance.now();
      range.value = String(10 + (i % 25) * 2 + (i % 2));
      range.dispatchEvent(new Event('input', { bubbles: true }));
      const shown = await preview;
      await new Promise(requestAnimationFrame);
      times.push({ ms: performance.now() - start, downsample: shown.downsample });
      await full; // the refinement lands before the next move
    }
    return times;
  })(), moves);
  const sorted = times.map((x) => x.ms).sort((a, b) => a - b);
  const median = sorted[Math.floor(sorted.length / 2)], worst = sorted[sorted.length - 1];
  const downsamples = [...new Set(times.map((x) => x.downsample))].join(', ');
  t.diagnostic(`slider input to preview on screen over ${moves} moves: median ${median.toFixed(1)} ms, ` +
    `worst ${worst.toFixed(1)} ms (preview downsample ${downsamples})`);
  assert.equal(times.length, moves);
  if (VELTRIX_STUDIO_SCREENSHOT) {
    await page.waitForFunction(() => document.getElementById('frame').dataset.downsample === '1');
    await page.evaluate(() => { document.getElementById('effect-controls').scrollTop = 0; });
    mkdirSync(dirname(VELTRIX_STUDIO_SCREENSHOT), { recursive: true });
    await page.screenshot({ path: VELTRIX_STUDIO_SCREENSHOT });
  }
});
