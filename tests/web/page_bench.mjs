// The page's benchmark (not a test): its sizes and a visit's download with and without the video,
// the time to "tap to start" on a slow connection, then for each renderer (Mesa, SwiftShader) and
// size (1280x720, a phone's 2532x1170 device pixels) the frame rate in real time (adapting, the
// scale it settles at, the picture's lag behind the music) and what the page chooses by itself
// (the way, and its frame rate: the video's frames presented), and the video against
// `demo --still` (PSNR at a few times); and the native `demo --bench` at 1280x720.
// Usage: node page_bench.mjs WEB_FOLDER DEMO_BINARY [SECONDS]
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { spawnSync } from 'node:child_process';
import { KnownDevices } from 'puppeteer-core';
import { serve, launch, open, click, mesa, swiftshader, slowNetwork } from './harness.mjs';

const [folder, demo] = process.argv.slice(2, 4).map(p => path.resolve(p));
const seconds = Number(process.argv[4] || 20);
const desktop = { width: 1280, height: 720 };
const phone = KnownDevices['iPhone 13 Pro landscape'];
const kib = bytes => (bytes / 1024).toFixed(1) + ' KiB';
const mib = bytes => (bytes / 1048576).toFixed(2) + ' MiB';
const video = path.join(folder, 'show.mp4');
const hasVideo = fs.existsSync(video);

// The shipped files, plain and as a server would gzip them.
let plain = 0, zipped = 0;
for (const name of fs.readdirSync(folder).sort()) {
  const bytes = fs.readFileSync(path.join(folder, name));
  const gz = /\.(html|js|css|wasm|svg|webmanifest|txt)$/.test(name) ? zlib.gzipSync(bytes, { level: 9 }).length : bytes.length;
  if (name !== 'show.mp4') {
    plain += bytes.length;
    zipped += gz;
  }
  console.log(`${name}: ${kib(bytes.length)}${gz !== bytes.length ? `, gzipped ${kib(gz)}` : ''}`);
}
console.log(`the page without the video: ${mib(plain)}, ${mib(zipped)} gzipped` +
            (hasVideo ? `; with the video: ${mib(plain + fs.statSync(video).size)}` : ' (no video in this build)'));

// One visit's bytes in real time, and "tap to start" at 1.6 Mbit/s and 150 ms (a phone), served
// gzipped and plain.
for (const identity of [false, true]) {
  const server = await serve(folder, { identity, ownVideo: true });
  const browser = await launch(mesa);
  try {
    const page = await browser.newPage();
    await page.emulate(phone);
    await slowNetwork(page, 1600, 150);
    await page.goto(server.url + '?way=realtime');
    await page.waitForFunction(() => window.demoPage?.ready, { timeout: 120000 });
    const ready = await page.evaluate(() => ({ at: demoPage.readyAt, bytes: demoPage.readyBytes }));
    console.log(`tap to start at 1.6 Mbit/s, 150 ms (${identity ? 'served plain' : 'gzipped'}): ${(ready.at / 1000).toFixed(2)} s, ` +
                `having waited for ${kib(ready.bytes)}`);
    await page.waitForFunction(() => demoPage.soundComplete, { timeout: 300000 });
    console.log(`  the whole soundtrack at ${((await page.evaluate(() => performance.now())) / 1000).toFixed(1)} s; ` +
                `a visit in real time downloads ${kib(server.sent.bytes)}`);
  } finally {
    await browser.close();
    await server.close();
  }
}

// The page for `seconds` to settle, then `seconds` measured: every frame's interval, and at each
// the music heard against the time drawn (positive: the picture behind); on the video, its frames
// presented a second.
async function measure(browser, server, label, query, device) {
  const page = await open(browser, server.url, query, desktop, null, device);
  const way = await page.evaluate(() => showWay.describe());
  await click(page);
  await page.waitForFunction(() => demoPage.firstFrameAt !== undefined || show.way === 'video', { timeout: 120000 });
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
      const quality = () => show.video.getVideoPlaybackQuality();
      const before = { frames: quality().totalVideoFrames - quality().droppedVideoFrames, at: performance.now() };
      setTimeout(() => {
        show.frameListeners.splice(show.frameListeners.indexOf(listener), 1);
        const total = intervals.reduce((a, b) => a + b, 0);
        behind.sort((a, b) => a - b);
        const shown = quality().totalVideoFrames - quality().droppedVideoFrames - before.frames;
        resolve({ way: show.way, fps: intervals.length / (total / 1000), frames: intervals.length,
                  videoFps: shown / ((performance.now() - before.at) / 1000),
                  scale: canvas.dataset.renderScale, passes: `${demoScale.stats.passWidth}x${demoScale.stats.passHeight}`,
                  canvas: `${canvas.width}x${canvas.height}`,
                  behind: behind.length ? behind[behind.length >> 1] : NaN, worst });
      }, seconds * 1000);
    }, seconds * 1000);
  }), seconds);
  if (r.way === 'video')
    console.log(`${label}: the video, ${r.videoFps.toFixed(1)} frames a second presented (${way})`);
  else if (!(r.frames > 0))
    console.log(`${label}: real time, no frame in ${seconds} s (${way})`);
  else
    console.log(`${label}: real time, ${r.fps.toFixed(2)} fps (${r.frames} frames), scale ${r.scale} (passes ${r.passes} of ` +
                `${r.canvas}); picture behind the music ${r.behind?.toFixed(0)} ms when drawn, at worst ${r.worst.toFixed(0)} ms (${way})`);
  await page.close();
}

if (hasVideo) {
  const server = await serve(folder, { ownVideo: true });
  try {
    for (const [renderer, flags] of [['Mesa', mesa], ['SwiftShader', swiftshader]]) {
      const browser = await launch(flags, desktop);
      try {
        for (const [size, device] of [['1280x720', null], ['2532x1170 (phone)', phone]]) {
          await measure(browser, server, `${renderer} ${size}, real time`, '?t=45&loop&way=realtime', device);
          await measure(browser, server, `${renderer} ${size}, chosen by the page`, '?t=45&loop', device);
        }
      } finally {
        await browser.close();
      }
    }
  } finally {
    await server.close();
  }

  // The video's pictures against the native stills of the same times, at its own size.
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-bench-'));
  const size = spawnSync('ffprobe', ['-v', 'error', '-select_streams', 'v', '-show_entries', 'stream=width,height,r_frame_rate',
                                     '-of', 'csv=p=0', video], { encoding: 'utf8' }).stdout.trim().split(',');
  const [width, height] = size;
  const [numerator, denominator] = size[2].split('/').map(Number); // "30/1"
  const rate = numerator / (denominator || 1);
  for (const t of [10, 43.2, 52.8, 67.4, 80]) {
    const still = path.join(work, `still-${t}.png`);
    spawnSync(demo, ['--still', String(t), still, '--size', `${width}x${height}`], { stdio: 'ignore' });
    const psnr = filter => {
      const run = spawnSync('ffmpeg', ['-v', 'info', '-i', video, '-i', still, '-filter_complex',
        `[0:v]select=eq(n\\,${Math.round(t * rate)}),setpts=PTS-STARTPTS,${filter}[a];[1:v]${filter}[b];[a][b]psnr`,
        '-frames:v', '1', '-f', 'null', '-'], { encoding: 'utf8' });
      return /average:([0-9.inf]+)/.exec(run.stderr)?.[1];
    };
    // RGB as shown, and luma alone (what the encoder keeps of detail; colour is halved by 4:2:0).
    console.log(`the video at ${t} s against demo --still: PSNR ${psnr('format=rgb24')} dB (RGB), ${psnr('format=yuv444p,extractplanes=y')} dB (luma)`);
  }
  fs.rmSync(work, { recursive: true });
}

const frames = String(Math.max(10, Math.round(seconds * 2)));
const native = spawnSync(demo, ['--bench', '--size', '1280x720', '--frames', frames], { encoding: 'utf8' });
const line = (native.stdout + native.stderr).split('\n').find(l => l.startsWith('frames per second'));
console.log(`native demo --bench at 1280x720: ${line ? line.replace(/^frames per second[^:]*: /, '') + ' frames per second' : 'failed'}`);
