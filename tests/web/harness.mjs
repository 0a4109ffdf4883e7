// What the page's tests and benchmark share: the page's folder served on 127.0.0.1 (a port of
// the system's choosing), Debian's chromium started headless through puppeteer-core (never a
// downloaded browser), the page opened and clicked, and pictures compared in the browser.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { spawn, spawnSync } from 'node:child_process';
import puppeteer from 'puppeteer-core';

const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.mp3': 'audio/mpeg' };

// Serves `folder`; the names in `hidden` answer 404, those in `held` only once release(name) is
// called. Resolves to { url, close, sent, release }, where sent.bytes counts what was sent.
export function serve(folder, hidden = [], held = []) {
  const sent = { bytes: 0 };
  const waiting = new Map(); // name -> answers held back
  const released = new Set();
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
    if (held.includes(name) && !released.has(name)) {
      waiting.set(name, [...(waiting.get(name) || []), () => answer(name, response)]);
      return;
    }
    answer(name, response);
  });
  const answer = (name, response) => {
    const file = path.join(folder, path.normalize(name));
    if (hidden.includes(name) || !file.startsWith(folder) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      response.writeHead(404);
      response.end();
      return;
    }
    const body = fs.readFileSync(file);
    sent.bytes += body.length;
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    response.end(body);
  };
  return new Promise(resolve => server.listen(0, '127.0.0.1', () => resolve({
    url: `http://127.0.0.1:${server.address().port}/`,
    sent,
    release: name => {
      released.add(name);
      (waiting.get(name) || []).forEach(go => go());
      waiting.delete(name);
    },
    // The browser may keep a connection open long after its page has gone, which close()
    // alone would wait for.
    close: () => new Promise(done => {
      server.close(done);
      server.closeAllConnections();
    }),
  })));
}

// Renderer flags: Mesa's OpenGL through ANGLE, or SwiftShader.
export const mesa = ['--use-angle=gl-egl', '--ignore-gpu-blocklist'];
export const swiftshader = ['--use-angle=swiftshader', '--enable-unsafe-swiftshader'];

export async function launch(flags = mesa, size = { width: 640, height: 360 }) {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: 'new',
    args: [...flags, '--no-sandbox', '--autoplay-policy=user-gesture-required', '--mute-audio=false',
           `--window-size=${size.width},${size.height}`],
  });
}

// Opens the page at `query` and waits until it is ready for the click or has said why not.
// `prepare(page)`, when given, runs before the page is loaded (to set up scripts of the test's).
export async function open(browser, url, query = '', size = { width: 640, height: 360 }, prepare = null) {
  const page = await browser.newPage();
  page.on('pageerror', error => console.log('page error:', error.message));
  if (prepare)
    await prepare(page);
  await page.setViewport({ ...size, deviceScaleFactor: 1 });
  await page.goto(url + query);
  await page.waitForFunction(() => window.demoPage && (demoPage.ready || demoPage.failed), { timeout: 120000 });
  return page;
}

export async function click(page) {
  const size = page.viewport();
  await page.mouse.click(size.width / 2, size.height / 2);
  await page.waitForFunction(() => demoPage.started, { timeout: 30000 });
}

// The next frame's picture as the S key reads it: { name, width, height, png (a data URL) }.
export function nextPicture(page) {
  return page.evaluate(() => demoNextPicture());
}

// Differences between two PNGs (data URLs), decoded by the browser: the largest in 1/255, and
// how many pixels differ by more than `beyond` / 255.
export function compare(page, a, b, beyond = 2) {
  return page.evaluate(async (a, b, beyond) => {
    const decode = async url => {
      const bitmap = await createImageBitmap(await (await fetch(url)).blob(),
                                             { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
      const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
      // A canvas kept in memory: a GPU canvas's first read-back on Mesa may come before its
      // drawing has landed, and compare a picture with an empty one.
      const context = canvas.getContext('2d', { willReadFrequently: true });
      context.drawImage(bitmap, 0, 0);
      return context.getImageData(0, 0, bitmap.width, bitmap.height);
    };
    const [x, y] = await Promise.all([decode(a), decode(b)]);
    if (x.width !== y.width || x.height !== y.height)
      return { sizes: [x.width, x.height, y.width, y.height] };
    let largest = 0, over = 0, sum = 0;
    for (let p = 0; p < x.data.length; p += 4) {
      let pixel = 0;
      for (let c = 0; c < 3; ++c) {
        const d = Math.abs(x.data[p + c] - y.data[p + c]);
        pixel = Math.max(pixel, d);
        sum += d * d;
      }
      largest = Math.max(largest, pixel);
      if (pixel > beyond) ++over;
    }
    const mse = sum / (x.width * x.height * 3);
    return { largest, over, pixels: x.width * x.height, psnr: mse === 0 ? Infinity : 10 * Math.log10(255 * 255 / mse) };
  }, a, b, beyond);
}

// The native program's still at `t` and `size` (at `scale`), as a data URL, made once per folder.
export function nativeStill(demo, folder, t, size = '640x360', scale = 1) {
  fs.mkdirSync(folder, { recursive: true });
  const file = path.join(folder, `still-${t}-${size}-${scale}.png`);
  if (!fs.existsSync(file)) {
    const run = spawnSync(demo, ['--still', String(t), file, '--size', size, '--scale', String(scale)],
                          { stdio: 'inherit' });
    if (run.status !== 0) throw new Error(`${demo} --still ${t} failed`);
  }
  return 'data:image/png;base64,' + fs.readFileSync(file).toString('base64');
}

// `count` busy loops (shell processes spinning) while the returned object's stop() is not called.
export function busyLoops(count) {
  const loops = Array.from({ length: count }, () => spawn('sh', ['-c', 'while :; do :; done'], { stdio: 'ignore' }));
  return { stop: () => loops.forEach(loop => loop.kill('SIGKILL')) };
}

// The show times the page's title gives, sampled at each of the browser's frames for `seconds`
// from now, with the moment (performance.now(), ms) each was read: [[ms, t], ...].
export function titleTimes(page, seconds) {
  return page.evaluate(async seconds => {
    const readings = [];
    const end = performance.now() + seconds * 1000;
    while (performance.now() < end) {
      await new Promise(r => requestAnimationFrame(r));
      const t = parseFloat(document.title.replace(/^demo \u2014 /, ''));
      if (Number.isFinite(t))
        readings.push([performance.now(), t]);
    }
    return readings;
  }, seconds);
}

// Every step back in title readings, and the most the show time fell behind the clock between
// any two of them (how long the picture held).
export function stepsAndHold(readings) {
  const steps = [];
  let hold = 0, earliest = Infinity;
  readings.forEach(([ms, t], i) => {
    if (i > 0 && t < readings[i - 1][1])
      steps.push(`${readings[i - 1][1]} -> ${t}`);
    earliest = Math.min(earliest, ms / 1000 - t);
    hold = Math.max(hold, ms / 1000 - t - earliest);
  });
  return { steps, hold };
}
