// The page's benchmark (not a test): its sizes and downloads, the time from the click to the
// first frame, then the frame rate, the render scale it settles at and how far the picture lags
// the music, with the adapting scale on and pinned at 1, at 1280x720 and on a phone (2532x1170
// device pixels), through Mesa and SwiftShader; and the native `demo --bench` at 1280x720.
// Usage: node page_bench.mjs WEB_FOLDER DEMO_BINARY [SECONDS]
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { spawnSync } from 'node:child_process';
import { KnownDevices } from 'puppeteer-core';
import { serve, launch, open, click, mesa, swiftshader } from './harness.mjs';

const [folder, demo] = process.argv.slice(2, 4).map(p => path.resolve(p));
const seconds = Number(process.argv[4] || 20);
const desktop = { width: 1280, height: 720 };
const phone = KnownDevices['iPhone 13 Pro landscape'];
const kib = bytes => (bytes / 1024).toFixed(1) + ' KiB';

for (const name of ['demo.wasm', 'demo.js', 'media-chrome.js', 'poster.jpg']) {
  const bytes = fs.readFileSync(path.join(folder, name));
  console.log(`${name}: ${kib(bytes.length)}, gzipped ${kib(zlib.gzipSync(bytes, { level: 9 }).length)}`);
}

// The page for `seconds` to settle, then `seconds` measured: every frame's interval, and at each
// the music heard against the time drawn (positive: the picture behind).
async function measure(browser, server, label, query, device) {
  const page = await open(browser, server.url, query, desktop, device);
  await click(page);
  await page.waitForFunction(() => demoPage.firstFrameAt !== undefined, { timeout: 120000 });
  const first = await page.evaluate(() => demoPage.firstFrameAt - demoPage.clickedAt);
  const r = await page.evaluate(seconds => new Promise(resolve => {
    setTimeout(() => {
      const intervals = [], behind = [];
      let last = null, lastBehind = null, worst = 0;
      const listener = (now, t) => {
        const heard = Module._webHeard();
        if (last !== null) {
          intervals.push(now - last);
          // The last picture stayed up until now: its lag grew by the interval.
          if (lastBehind !== null)
            worst = Math.max(worst, lastBehind + (now - last));
        }
        lastBehind = heard >= 0 ? (heard - t) * 1000 : null;
        if (lastBehind !== null)
          behind.push(lastBehind);
        last = now;
      };
      show.frameListeners.push(listener);
      setTimeout(() => {
        show.frameListeners.splice(show.frameListeners.indexOf(listener), 1);
        const total = intervals.reduce((a, b) => a + b, 0);
        behind.sort((a, b) => a - b);
        resolve({ fps: intervals.length / (total / 1000), frames: intervals.length,
                  scale: canvas.dataset.renderScale, passes: `${demoScale.stats.passWidth}x${demoScale.stats.passHeight}`,
                  canvas: `${canvas.width}x${canvas.height}`,
                  behind: behind.length ? behind[behind.length >> 1] : NaN, worst });
      }, seconds * 1000);
    }, seconds * 1000);
  }), seconds);
  console.log(`${label}: ${r.fps.toFixed(2)} fps (${r.frames} frames), scale ${r.scale} (passes ${r.passes} of ${r.canvas}); ` +
              `picture behind the music ${r.behind.toFixed(0)} ms when drawn, at worst ${r.worst.toFixed(0)} ms; ` +
              `click to first frame ${first.toFixed(0)} ms`);
  await page.close();
}

const server = await serve(folder);
try {
  for (const [renderer, flags] of [['Mesa', mesa], ['SwiftShader', swiftshader]]) {
    const browser = await launch(flags, desktop);
    try {
      for (const [size, device] of [['1280x720', null], ['2532x1170 (phone)', phone]]) {
        await measure(browser, server, `${renderer} ${size}, adapting`, '?t=5&loop', device);
        await measure(browser, server, `${renderer} ${size}, ?scale=1`, '?t=5&loop&scale=1', device);
      }
    } finally {
      await browser.close();
    }
  }
  console.log(`downloaded: ${kib(server.sent.bytes)} in all, over every page opened`);
} finally {
  await server.close();
}

const frames = String(Math.max(10, Math.round(seconds * 2)));
const native = spawnSync(demo, ['--bench', '--size', '1280x720', '--frames', frames], { encoding: 'utf8' });
const line = (native.stdout + native.stderr).split('\n').find(l => l.startsWith('frames per second'));
console.log(`native demo --bench at 1280x720: ${line ? line.replace(/^frames per second[^:]*: /, '') + ' frames per second' : 'failed'}`);
