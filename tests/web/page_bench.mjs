// The page's benchmark (not a test): frames per second at 1280x720 in headless chromium on
// Mesa against the native `demo --bench` at the same size, the time from the click to the
// first frame, the wasm's size gzipped, and what the page downloads in all.
// Usage: node page_bench.mjs WEB_FOLDER DEMO_BINARY [SECONDS]
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { spawnSync } from 'node:child_process';
import { serve, launch, open, click, mesa } from './harness.mjs';

const [folder, demo] = process.argv.slice(2, 4).map(p => path.resolve(p));
const seconds = Number(process.argv[4] || 20);
const size = { width: 1280, height: 720 };
const kib = bytes => (bytes / 1024).toFixed(1) + ' KiB';

const wasm = fs.readFileSync(path.join(folder, 'demo.wasm'));
const script = fs.readFileSync(path.join(folder, 'demo.js'));
console.log(`wasm: ${kib(wasm.length)}, gzipped ${kib(zlib.gzipSync(wasm, { level: 9 }).length)}`);
console.log(`demo.js: ${kib(script.length)}, gzipped ${kib(zlib.gzipSync(script, { level: 9 }).length)}`);

const server = await serve(folder);
const browser = await launch(mesa, size);
try {
  const page = await open(browser, server.url, '?t=40', size);
  await click(page);
  await page.waitForFunction(() => demoPage.firstFrameAt !== undefined, { timeout: 120000 });
  const firstFrame = await page.evaluate(() => demoPage.firstFrameAt - demoPage.clickedAt);
  console.log(`click to first frame: ${firstFrame.toFixed(0)} ms`);
  // Every animation frame is one of the show's: its main loop runs in each.
  const rate = await page.evaluate(seconds => new Promise(resolve => {
    let frames = 0;
    const start = performance.now();
    const count = now => {
      ++frames;
      if (now - start < seconds * 1000) requestAnimationFrame(count);
      else resolve({ frames, elapsed: (now - start) / 1000, title: document.title });
    };
    requestAnimationFrame(count);
  }), seconds);
  console.log(`page at 1280x720: ${(rate.frames / rate.elapsed).toFixed(2)} frames per second ` +
              `(${rate.frames} frames in ${rate.elapsed.toFixed(1)} s, ending at "${rate.title}")`);
  console.log(`downloaded: ${kib(server.sent.bytes)} (page, script, wasm and soundtrack)`);
} finally {
  await browser.close();
  await server.close();
}

const frames = String(Math.max(10, Math.round(seconds * 2)));
const native = spawnSync(demo, ['--bench', '--size', '1280x720', '--frames', frames], { encoding: 'utf8' });
const line = (native.stdout + native.stderr).split('\n').find(l => l.startsWith('frames per second'));
console.log(`native demo --bench at 1280x720: ${line ? line.replace(/^frames per second[^:]*: /, '') + ' frames per second' : 'failed'}`);
