// The web page in Debian's Chromium, headless: capture frames equal the native renderer's,
// the synthesized soundtrack and decoded pictures are the native build's bytes, the live page
// plays, stops on Escape and refuses a corrupted WAV, within the weight bound and without a
// console error. Prints the figures it sees (weight, passes per second, click to first frame).
//
//   node web_test.mjs SITE_DIR NATIVE_BUILD_DIR NODE_MODULES_DIR
import { spawn } from 'node:child_process';
import { createHash } from 'node:crypto';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import assert from 'node:assert/strict';

const [site, native, modules] = process.argv.slice(2);
const puppeteer = createRequire(join(modules, 'x.js'))('puppeteer-core');
const kFrameBytes = 400 * 300 * 3;
const kWeightLimit = 6 * 1000 * 1000;  // bytes transferred before the page is ready
const kDeadlineMs = 180000;             // generous: two cores shared with other builds
const captures = [{ fps: 1000, frames: 3000 }, { fps: 60, frames: 300 }];
const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');

// The last raw frame of `starglobe-render --fps F --frames N --raw -`, streamed.
function nativeFrame({ fps, frames }) {
  return new Promise((resolve, reject) => {
    const render = spawn(join(native, 'starglobe-render'), ['--wav', join(native, 'tessaloon.wav'),
      '--fps', `${fps}`, '--frames', `${frames}`, '--raw', '-', '--quiet']);
    let tail = Buffer.alloc(0);
    render.stdout.on('data', (chunk) => { tail = Buffer.concat([tail, chunk]).subarray(-kFrameBytes); });
    render.on('error', reject);
    render.on('close', (code) => (code === 0 ? resolve(tail) : reject(new Error(`renderer: ${code}`))));
  });
}

// python3 -m http.server on a free loopback port; resolves with its address once it listens.
function serve() {
  const server = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1', '0'],
    { cwd: site, stdio: ['ignore', 'pipe', 'ignore'] });
  return new Promise((resolve, reject) => {
    server.on('error', reject);
    server.stdout.on('data', (text) => {
      const port = /port (\d+)/.exec(text)?.[1];
      if (port) resolve({ server, url: `http://127.0.0.1:${port}/index.html` });
    });
  });
}

const errors = [];
async function open(browser, url) {
  const page = await browser.newPage();
  page.setDefaultTimeout(kDeadlineMs);
  page.on('console', (m) => m.type() === 'error' && errors.push(`${url}: ${m.text()}`));
  page.on('pageerror', (e) => errors.push(`${url}: ${e.message}`));
  await page.setCacheEnabled(false);  // every page pays its full weight
  const cdp = await page.createCDPSession();
  await cdp.send('Network.enable');
  const weight = { bytes: 0 };
  cdp.on('Network.loadingFinished', (e) => { weight.bytes += e.encodedDataLength; });
  await page.goto(url);
  return { page, weight };
}

const state = (page, wanted) => page.waitForFunction((s) => window.starglobe.state === s, {}, wanted);
const pixels = (page) => page.evaluate(() => {
  const rgba = document.getElementById('screen').getContext('2d').getImageData(0, 0, 400, 300).data;
  return btoa(Array.from(rgba, (b) => String.fromCharCode(b)).join(''));
}).then((text) => Buffer.from(text, 'base64'));

const { server, url } = await serve();
const profile = mkdtempSync(join(tmpdir(), 'starglobe-chromium-'));
const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium', userDataDir: profile, protocolTimeout: kDeadlineMs,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  for (const capture of captures) {
    const [expected, { page }] = await Promise.all([nativeFrame(capture),
      open(browser, `${url}?fps=${capture.fps}&frames=${capture.frames}`)]);
    await state(page, 'captured');
    const rgba = await pixels(page);
    let wrong = 0;
    for (let n = 0; n < kFrameBytes / 3; ++n) {
      const [b, g, r] = expected.subarray(3 * n, 3 * n + 3);
      if (rgba[4 * n] !== r || rgba[4 * n + 1] !== g || rgba[4 * n + 2] !== b || rgba[4 * n + 3] !== 255) ++wrong;
    }
    assert.equal(wrong, 0, `fps=${capture.fps} frames=${capture.frames}: pixels unlike the renderer's`);
    await page.close();
  }

  const { page, weight } = await open(browser, url);
  await state(page, 'ready');
  assert.ok(weight.bytes <= kWeightLimit, `${weight.bytes} bytes transferred before ready`);
  const digests = await page.evaluate(() => window.starglobe.digests());
  assert.equal(digests.wav, sha256(readFileSync(join(native, 'tessaloon.wav'))), 'soundtrack bytes');
  assert.equal(digests.pictures, sha256(readFileSync(join(native, 'src/visuals/image_bank.bin'))),
    'picture bytes');

  await page.click('#screen');
  await state(page, 'playing');
  const sample = () => page.evaluate(() => ({ ...window.starglobe, at: performance.now() }));
  const before = await sample();
  await page.waitForFunction((t) => performance.now() >= t + 1000, {}, before.at);
  const after = await sample();
  const perSecond = (after.passes - before.passes) * 1000 / (after.at - before.at);
  assert.ok(perSecond >= 60, `${perSecond.toFixed(0)} passes a second`);
  // The music opens with two seconds of near silence (white frames); then the picture moves.
  const first = await pixels(page);
  await page.waitForFunction((text) => {
    const rgba = document.getElementById('screen').getContext('2d').getImageData(0, 0, 400, 300).data;
    return btoa(Array.from(rgba, (b) => String.fromCharCode(b)).join('')) !== text;
  }, { polling: 'raf' }, first.toString('base64'));
  await page.keyboard.press('Escape');
  await state(page, 'ready');

  const bad = join(profile, 'corrupted.wav');
  writeFileSync(bad, Buffer.concat([Buffer.from('RIFX'), Buffer.alloc(96)]));
  await (await page.$('input#soundtrack')).uploadFile(bad);
  await page.waitForFunction(() => document.getElementById('message').textContent.includes('wav is corrupted'));
  assert.match(await page.$eval('#message', (m) => m.textContent), /sox .* -r 44100/, 'no conversion advice');

  // A short WAV of the demo's layout plays, then the end card, then the start screen again.
  const frames = 22050;  // half a second of silence
  const wav = Buffer.alloc(44 + 4 * frames);
  wav.write('RIFF', 0); wav.writeUInt32LE(36 + 4 * frames, 4); wav.write('WAVEfmt ', 8);
  wav.writeUInt32LE(16, 16); wav.writeUInt16LE(1, 20); wav.writeUInt16LE(2, 22);
  wav.writeUInt32LE(44100, 24); wav.writeUInt32LE(176400, 28); wav.writeUInt16LE(4, 32);
  wav.writeUInt16LE(16, 34); wav.write('data', 36); wav.writeUInt32LE(4 * frames, 40);
  writeFileSync(join(profile, 'short.wav'), wav);
  await (await page.$('input#soundtrack')).uploadFile(join(profile, 'short.wav'));
  await page.waitForFunction(() => document.getElementById('message').textContent.includes('short.wav'));
  await page.keyboard.press('Enter');
  await state(page, 'card');
  await state(page, 'ready');

  assert.deepEqual(errors, [], 'console errors');
  console.log(`weight before ready: ${weight.bytes} bytes; live: ${perSecond.toFixed(0)} passes/s; ` +
    `click to first frame: ${after.clickToFirstFrameMs.toFixed(1)} ms`);
} finally {
  await browser.close();
  server.kill();
  rmSync(profile, { recursive: true, force: true });
}
