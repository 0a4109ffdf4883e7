// What the page's tests and benchmark share: the page's folder served on 127.0.0.1 (a port of
// the system's choosing), Debian's chromium started headless through puppeteer-core (never a
// downloaded browser), the page opened and clicked, pictures compared in the browser, the test
// files' common set-up, and the small video of the show the tests serve as the page's.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { spawn, spawnSync } from 'node:child_process';
import { before, after } from 'node:test';
import puppeteer from 'puppeteer-core';

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
                '.mp3': 'audio/mpeg', '.mp4': 'video/mp4', '.jpg': 'image/jpeg', '.png': 'image/png',
                '.ico': 'image/x-icon', '.svg': 'image/svg+xml', '.txt': 'text/plain',
                '.webmanifest': 'application/manifest+json' };
// What a web server compresses when the browser accepts it (pictures and sound are compressed already).
const compressed = new Set(['.html', '.js', '.css', '.wasm', '.svg', '.txt', '.webmanifest']);

// Serves `folder` as a static web server does: gzip where the browser accepts it, byte ranges,
// HEAD, and Last-Modified with its 304. Options: `hidden`, names that answer 404; `held`, names
// answered only once release(name) is called; `files`, names served from other paths (the
// tests' video as show.mp4); `identity`, nothing compressed; `ownVideo`, the folder's own
// show.mp4 served (otherwise only one given in `files` is: a release build's video would let the
// page choose it); `port`, the port (else one of the system's choosing). Resolves to { url,
// close, sent, release }, where sent.bytes counts the bytes sent and sent.names each name's.
export function serve(folder, { hidden = [], held = [], files = {}, identity = false, ownVideo = false, port = 0 } = {}) {
  if (!ownVideo && !('show.mp4' in files))
    hidden = [...hidden, 'show.mp4'];
  const sent = { bytes: 0, names: {} };
  const waiting = new Map(); // name -> answers held back
  const released = new Set();
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
    if (held.includes(name) && !released.has(name)) {
      waiting.set(name, [...(waiting.get(name) || []), () => answer(name, request, response)]);
      return;
    }
    answer(name, request, response);
  });
  const answer = (name, request, response) => {
    const file = files[name] ?? path.join(folder, path.normalize(name));
    if (hidden.includes(name) || !(name in files || file.startsWith(folder)) || !fs.existsSync(file) ||
        fs.statSync(file).isDirectory()) {
      response.writeHead(404);
      response.end();
      return;
    }
    const modified = fs.statSync(file).mtime;
    modified.setMilliseconds(0);
    const headers = { 'Content-Type': types[path.extname(file)] || 'application/octet-stream',
                      'Last-Modified': modified.toUTCString(), 'Accept-Ranges': 'bytes' };
    const since = Date.parse(request.headers['if-modified-since'] || '');
    if (since >= modified.getTime()) {
      response.writeHead(304, headers);
      response.end();
      return;
    }
    let body = fs.readFileSync(file);
    let status = 200;
    const range = /^bytes=(\d*)-(\d*)$/.exec(request.headers.range || '');
    if (range && (range[1] || range[2])) {
      const size = body.length;
      const start = range[1] ? Number(range[1]) : Math.max(0, size - Number(range[2]));
      const end = range[1] && range[2] ? Math.min(Number(range[2]), size - 1) : size - 1;
      if (start >= size) {
        response.writeHead(416, { 'Content-Range': `bytes */${size}` });
        response.end();
        return;
      }
      body = body.subarray(start, end + 1);
      status = 206;
      headers['Content-Range'] = `bytes ${start}-${end}/${size}`;
    } else if (!identity && compressed.has(path.extname(file)) && /\bgzip\b/.test(request.headers['accept-encoding'] || '')) {
      body = zlib.gzipSync(body, { level: 6 });
      headers['Content-Encoding'] = 'gzip';
    }
    headers['Content-Length'] = String(body.length);
    response.writeHead(status, headers);
    if (request.method === 'HEAD') {
      response.end();
      return;
    }
    sent.bytes += body.length;
    sent.names[name] = (sent.names[name] || 0) + body.length;
    response.end(body);
  };
  return new Promise(resolve => server.listen(port, '127.0.0.1', () => resolve({
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
// `prepare(page)`, when given, runs before the page is loaded (to set up scripts of the test's);
// with `device` (one of puppeteer's KnownDevices), the page is that device: its size, pixel
// ratio and touch.
export async function open(browser, url, query = '', size = { width: 640, height: 360 }, prepare = null, device = null) {
  const page = await browser.newPage();
  page.on('pageerror', error => console.log('page error:', error.message));
  if (prepare)
    await prepare(page);
  if (device)
    await page.emulate(device);
  else
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

// The small video the tests serve as the page's show.mp4: the show's own capture, whole, at 160x90
// and 30 fps, made once into `work` (again when the demo binary is newer).
export function testVideo(demo, work) {
  fs.mkdirSync(work, { recursive: true });
  const file = path.join(work, 'show-160x90.mp4');
  if (fs.existsSync(file) && fs.statSync(file).mtimeMs > fs.statSync(demo).mtimeMs)
    return file;
  const partial = path.join(work, `show-160x90-${process.pid}.mp4`);
  const run = spawnSync(demo, ['--capture', partial, '--size', '160x90', '--fps', '30', '--overwrite'],
                        { stdio: ['ignore', 'ignore', 'inherit'] });
  if (run.status !== 0) throw new Error(`${demo} --capture failed`);
  fs.renameSync(partial, file);
  return file;
}

// A test file's common frame: its arguments (the page's folder, the native demo, a work folder),
// one server of the page (with the tests' video when `video`) and one Mesa browser for its
// tests, closed after them.
export function suite({ video = false } = {}) {
  const [folder, demo, work] = process.argv.slice(2).map(p => path.resolve(p));
  const context = { folder, demo, work, server: null, browser: null, video: null };
  before(async () => {
    if (video)
      context.video = testVideo(demo, work);
    context.server = await serve(folder, { files: context.video ? { 'show.mp4': context.video } : {} });
    context.browser = await launch(mesa);
  });
  after(async () => {
    await context.browser?.close();
    await context.server?.close();
  });
  return context;
}

// The page's network as a phone's may be: `kbits` a second both ways and `latency` ms each way.
export async function slowNetwork(page, kbits = 1600, latency = 150) {
  const session = await page.target().createCDPSession();
  await session.send('Network.enable');
  await session.send('Network.emulateNetworkConditions', {
    offline: false, latency, downloadThroughput: kbits * 1000 / 8, uploadThroughput: kbits * 1000 / 8 });
  return session;
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
