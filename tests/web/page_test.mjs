// The page in headless chromium: its pictures against the native program's stills, its sound
// against the soundtrack, its keys, its messages when something is missing, and a lost context.
// Usage: node page_test.mjs WEB_FOLDER DEMO_BINARY WORK_FOLDER (the native demo makes the stills)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { serve, launch, open, click, nextPicture, compare, nativeStill, mesa, swiftshader, busyLoops, titleTimes,
         stepsAndHold, suite } from './harness.mjs';

const context = suite();
const { folder, demo, work } = context;

// Within 2/255, nothing beyond 5 %; the shown time is the one asked for.
async function expectStill(page, t, picture, scale = 1) {
  const still = nativeStill(demo, work, t, '640x360', scale);
  const difference = await compare(page, picture.png, still, 0.05 * 255);
  const strict = await compare(page, picture.png, still, 2);
  console.log(`t = ${t}, scale ${scale}: largest ${strict.largest}/255, ${strict.over} pixels beyond 2/255, PSNR ${strict.psnr.toFixed(1)} dB`);
  // A pixel or two on the grid's steep line edges may round the other way (the ground's facets
  // come from the vertex stage here, from the geometry stage natively).
  assert.ok(difference.over <= 4, `${difference.over} pixels beyond 5 % at ${t}`);
  assert.ok(strict.over <= 10, `${strict.over} pixels beyond 2/255 at ${t}`);
  assert.equal(picture.name, `demo-${Math.round(t * 1000)}.png`);
}

test('pictures at 43.2, 52.8 and 72 s equal the native stills (Mesa)', async () => {
  for (const t of [43.2, 52.8, 72.0]) {
    const page = await open(context.browser, context.server.url, `?t=${t}&still`);
    await click(page);
    const picture = await nextPicture(page);
    assert.equal(picture.width, 640);
    assert.equal(picture.height, 360);
    await expectStill(page, t, picture);
    assert.match(await page.title(), new RegExp(`^demo \u2014 ${t.toFixed(2)} s \\(paused\\)$`));
    await page.close();
  }
  // Passes at half the picture's size, as --scale 0.5 draws them.
  const page = await open(context.browser, context.server.url, '?t=52.8&still&scale=0.5');
  await click(page);
  await expectStill(page, 52.8, await nextPicture(page), 0.5);
  await page.close();
});

test('pictures through SwiftShader come near the native stills', async () => {
  const software = await launch(swiftshader);
  try {
    const page = await open(software, context.server.url, '?t=52.8&still');
    await click(page);
    const picture = await nextPicture(page);
    const difference = await compare(page, picture.png, nativeStill(demo, work, 52.8));
    console.log(`SwiftShader at 52.8: PSNR ${difference.psnr.toFixed(1)} dB, largest ${difference.largest}/255`);
    assert.ok(difference.psnr > 25, `PSNR ${difference.psnr}`);
  } finally {
    await software.close();
  }
});

test('sound: nothing before the click, then the soundtrack from where the show is', async () => {
  const page = await open(context.browser, context.server.url, '?t=2');
  assert.equal(await page.$eval('#prompt', e => e.textContent), 'click to start');
  assert.equal(await page.evaluate(() => typeof miniaudio === 'undefined' ||
                                         miniaudio.devices.filter(d => d && d.webaudio).length), true);
  await click(page);
  const heard = await page.evaluate(async () => {
    const device = miniaudio.devices.find(d => d && d.webaudio);
    const started = performance.now();
    while (device.webaudio.state !== 'running' && performance.now() - started < 10000)
      await new Promise(r => setTimeout(r, 50));
    const analyser = device.webaudio.createAnalyser();
    analyser.fftSize = 4096;
    device.scriptNode.connect(analyser);
    // The output is fed on the page's main thread, between frames: on a loaded machine its first
    // stretches may come late or with a gap, so the first four windows of sound within a few
    // seconds are taken, and the one that matches best is judged.
    const windows = [];
    for (let tries = 0; tries < 40 && windows.length < 4; ++tries) {
      await new Promise(r => setTimeout(r, tries === 0 ? 1500 : 250));
      const samples = new Float32Array(analyser.fftSize);
      analyser.getFloatTimeDomainData(samples);
      if (samples.some(s => Math.abs(s) > 1e-3))
        windows.push({ samples, shown: parseFloat(document.title.replace(/^demo \u2014 /, '')) });
    }
    if (!windows.length)
      return { state: device.webaudio.state, rms: 0 };
    // The soundtrack decoded by the browser itself, at the output's rate, mixed as the analyser mixes.
    const rate = device.webaudio.sampleRate;
    const track = await new OfflineAudioContext(2, 1, rate).decodeAudioData(demoPage.soundBytes.slice().buffer);
    const left = track.getChannelData(0), right = track.getChannelData(track.numberOfChannels - 1);
    const length = Math.min(left.length, Math.round((windows[windows.length - 1].shown + 2) * rate));
    const mono = new Float32Array(length);
    for (let i = 0; i < length; ++i) mono[i] = 0.5 * (left[i] + right[i]);
    // Both low-passed (a box of 16 samples): the two decoders and resamplers differ at the top.
    const smooth = x => {
      const y = new Float32Array(x.length);
      let sum = 0;
      for (let i = 0; i < x.length; ++i) {
        sum += x[i] - (i >= 16 ? x[i - 16] : 0);
        y[i] = sum / 16;
      }
      return y;
    };
    const trackSmooth = smooth(mono);
    let judged = { best: -1 };
    const correlations = [];
    for (const { samples, shown } of windows) {
      const heardSmooth = smooth(samples);
      let energy = 0;
      for (const s of heardSmooth) energy += s * s;
      let best = -1, at = 0;
      // Searched over a second and a half either side of the show's time.
      const firstLag = Math.max(0, Math.round((shown - 1.5) * rate));
      for (let lag = firstLag; lag + samples.length < length; ++lag) {
        let dot = 0, norm = 0;
        for (let i = 0; i < samples.length; ++i) {
          const r = trackSmooth[lag + i];
          dot += r * heardSmooth[i];
          norm += r * r;
        }
        const correlation = dot / Math.sqrt(norm * energy + 1e-30);
        if (correlation > best) { best = correlation; at = lag; }
      }
      correlations.push(+best.toFixed(3));
      let rms = 0;
      for (const s of samples) rms += s * s;
      if (best > judged.best)
        judged = { rms: Math.sqrt(rms / samples.length), best, at: at / rate, shown };
    }
    return { state: device.webaudio.state, rate, correlations, ...judged };
  });
  console.log('sound:', JSON.stringify(heard));
  assert.equal(heard.state, 'running');
  assert.ok(heard.rms > 1e-3, 'the output is not silent');
  assert.ok(heard.best > 0.8, `the output matches the soundtrack (correlation ${heard.best})`);
  // What was heard lies where the show is, give or take the output's buffers.
  assert.ok(Math.abs(heard.at - heard.shown) < 1.0, `heard at ${heard.at} s while the show is at ${heard.shown} s`);
  await page.close();
});

test('without the soundtrack the page says so and the picture plays', async () => {
  const bare = await serve(folder, { hidden: ['valdrim.mp3'] });
  try {
    const page = await open(context.browser, bare.url, '?t=10');
    await click(page);
    const notice = await page.$eval('#notice', e => e.textContent);
    assert.match(notice, /valdrim\.mp3 was not found.*plays in silence/);
    const first = parseFloat((await page.title()).replace(/^demo \u2014 /, ''));
    await page.waitForFunction(first => parseFloat(document.title.replace(/^demo \u2014 /, '')) > first,
                               { timeout: 30000 }, first).catch(() => {});
    const later = parseFloat((await page.title()).replace(/^demo \u2014 /, ''));
    assert.ok(later > first, `the show goes on (${first} s, then ${later} s)`);
    await page.close();
  } finally {
    await bare.close();
  }
});

test('keys: Space holds (drawing nothing) and resumes, Right jumps 5 s, S downloads the still', async () => {
  const page = await open(context.browser, context.server.url, '?t=30');
  await click(page);
  await page.keyboard.press('Space');
  await page.waitForFunction(() => document.title.endsWith('(paused)'));
  const [a, b] = [await nextPicture(page), await nextPicture(page)];
  assert.equal((await compare(page, a.png, b.png, 0)).largest, 0, 'the held picture stays');
  // Held, nothing is drawn and no time goes by: over 30 of the browser's frames, no frame of the
  // show's and no timeupdate.
  const idle = await page.evaluate(() => new Promise(resolve => {
    const seen = { frames: 0, timeupdates: 0 };
    const frame = () => ++seen.frames;
    const update = () => ++seen.timeupdates;
    show.frameListeners.push(frame);
    show.addEventListener('timeupdate', update);
    let ticks = 0;
    const tick = () => {
      if (++ticks < 30)
        return requestAnimationFrame(tick);
      show.frameListeners.splice(show.frameListeners.indexOf(frame), 1);
      show.removeEventListener('timeupdate', update);
      resolve(seen);
    };
    requestAnimationFrame(tick);
  }));
  assert.deepEqual(idle, { frames: 0, timeupdates: 0 }, 'the held show drew frames');
  await page.keyboard.press('Space');
  await page.waitForFunction(() => !document.title.endsWith('(paused)'));
  const resumed = parseFloat((await page.title()).replace(/^demo \u2014 /, ''));
  await page.waitForFunction(resumed => parseFloat(document.title.replace(/^demo \u2014 /, '')) > resumed,
                             { timeout: 30000 }, resumed).catch(() => {});
  assert.ok(parseFloat((await page.title()).replace(/^demo \u2014 /, '')) > resumed, 'it runs again');
  await page.close();

  const held = await open(context.browser, context.server.url, '?t=38.2&still');
  await click(held);
  await held.keyboard.press('ArrowRight');
  await held.waitForFunction(() => document.title.startsWith('demo \u2014 43.20 s'));
  await expectStill(held, 43.2, await nextPicture(held));

  const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-web-'));
  const session = await held.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await held.keyboard.press('s');
  const file = path.join(downloads, 'demo-43200.png');
  for (let i = 0; i < 100 && !fs.existsSync(file); ++i) await new Promise(r => setTimeout(r, 100));
  assert.ok(fs.existsSync(file), 'S downloads demo-43200.png');
  const png = 'data:image/png;base64,' + fs.readFileSync(file).toString('base64');
  await expectStill(held, 43.2, { name: 'demo-43200.png', png });
  fs.rmSync(downloads, { recursive: true });
  await held.close();
});

test('without WebGL 2 the page says what is missing', async () => {
  const plain = await launch([...mesa, '--disable-webgl2']);
  try {
    const page = await open(plain, context.server.url);
    assert.match(await page.$eval('#message', e => e.textContent), /no WebGL 2/);
    assert.equal(await page.$eval('#overlay', e => e.hidden), false);
  } finally {
    await plain.close();
  }
});

test('a program that cannot be loaded is said, and a page opened as a file says how to serve it', async () => {
  for (const hidden of ['demo.wasm', 'demo.js']) {
    const bare = await serve(folder, { hidden: [hidden] });
    try {
      const page = await open(context.browser, bare.url);
      assert.match(await page.$eval('#message', e => e.textContent), /program .* could not be loaded/, hidden);
      await page.close();
    } finally {
      await bare.close();
    }
  }
  const page = await open(context.browser, 'file://' + path.join(folder, 'index.html'));
  assert.match(await page.$eval('#message', e => e.textContent), /opened as a file.*web server/);
  await page.close();
});

test('the end: a black picture and "play again"; loop taken while running', async () => {
  const page = await open(context.browser, context.server.url, '?t=86.2');
  await click(page);
  await page.waitForFunction(() => demoPage.ended, { timeout: 30000 });
  assert.equal(await page.$eval('#prompt button', e => e.textContent), 'play again');
  const black = await page.evaluate(() => {
    const gl = document.getElementById('canvas').getContext('webgl2');
    const pixel = new Uint8Array(4);
    gl.readPixels(gl.drawingBufferWidth >> 1, gl.drawingBufferHeight >> 1, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
    return Array.from(pixel.slice(0, 3));
  });
  assert.deepEqual(black, [0, 0, 0]);
  await page.click('#prompt button');
  await page.waitForFunction(() => !demoPage.ended && /^demo \u2014 [0-9.]+ s$/.test(document.title) &&
                                   parseFloat(document.title.slice(7)) < 5, { timeout: 30000 });
  await page.close();

  // Looping turned on while the show runs takes it round at the end.
  const looping = await open(context.browser, context.server.url, '?t=85');
  await click(looping);
  await looping.evaluate(() => { show.loop = true; show.addEventListener('ended', () => { window.endedOnce = true; }); });
  await looping.waitForFunction(() => parseFloat(document.title.slice(7)) < 5, { timeout: 60000 });
  assert.equal(await looping.evaluate(() => window.endedOnce ?? false), false);
  await looping.close();
});

// Loses the page's graphics context (as the browser would) and gives it back once the loss has
// lasted `seconds` of the page's clock. Returns the show's time when the page learnt of the loss.
async function loseContextFor(page, seconds) {
  await page.evaluate(() => {
    show.addEventListener('waiting', () => { window.timeLost = show.currentTime; }, { once: true });
    window.lossExtension = canvas.getContext('webgl2').getExtension('WEBGL_lose_context');
    lossExtension.loseContext();
  });
  await page.waitForFunction(() => demoPage.lost, { timeout: 30000 });
  await page.evaluate(() => { window.lostAt = performance.now(); });
  await page.waitForFunction(seconds => performance.now() > lostAt + seconds * 1000, { timeout: 30000 }, seconds);
  assert.match(await page.$eval('#notice', e => e.textContent), /graphics context was lost/);
  await page.evaluate(() => lossExtension.restoreContext());
  await page.waitForFunction(() => !demoPage.lost, { timeout: 30000 });
  return page.evaluate(() => timeLost);
}

test('the context: lost, it comes back by itself where the show was, held or playing', async () => {
  const held = await open(context.browser, context.server.url, '?t=43.2&still');
  await click(held);
  await loseContextFor(held, 0.5);
  await expectStill(held, 43.2, await nextPicture(held));
  await held.close();

  const playing = await open(context.browser, context.server.url, '?t=20');
  await click(playing);
  await playing.waitForFunction(() => show.currentTime > 21, { timeout: 60000 });
  const lostAt = await loseContextFor(playing, 2);
  const back = await playing.evaluate(() => show.currentTime);
  assert.ok(lostAt > 21 && back - lostAt < 0.5, `went on from ${back} s, lost at ${lostAt} s: the time ran on while lost`);
  await playing.waitForFunction(back => parseFloat(document.title.slice(7)) > back + 0.5, { timeout: 60000 }, back);
  assert.equal(await playing.evaluate(() => show.paused), false);
  await playing.close();
});

// The page's Web Audio starts only once its resume() has waited `ms`: the sound held back, as a
// loaded machine holds it.
function holdTheSoundBack(ms) {
  return page => page.evaluateOnNewDocument(ms => {
    const resume = AudioContext.prototype.resume;
    AudioContext.prototype.resume = function () {
      return new Promise(r => setTimeout(r, ms)).then(() => resume.call(this));
    };
  }, ms);
}

test('the clock: starts beside busy loops, the sound held back, never step back or hold', async () => {
  const loops = busyLoops(3);
  try {
    for (const t of [0, 40, 20]) {
      const page = await open(context.browser, context.server.url, `?t=${t}`, undefined, holdTheSoundBack(1500));
      await click(page);
      const readings = await titleTimes(page, 3);
      const { steps, hold } = stepsAndHold(readings);
      console.log(`the clock from ${t} s: ${readings.length} frames, ${readings[0]?.[1]} to ${readings.at(-1)?.[1]} s, ` +
                  `held at most ${hold.toFixed(2)} s`);
      assert.ok(readings.length >= 2, 'frames were drawn');
      assert.deepEqual(steps, [], 'the picture went back');
      assert.ok(hold < 0.5, `the picture held ${hold.toFixed(2)} s`);
      const state = await page.evaluate(() => miniaudio.devices.find(d => d && d.webaudio)?.webaudio.state);
      assert.equal(state, 'running', 'the sound started after all');
      await page.close();
    }
  } finally {
    loops.stop();
  }
});

test('faults: a context lost while the soundtrack downloads offers no start until it is back', async () => {
  const slow = await serve(folder, { held: ['valdrim.mp3'] });
  try {
    const page = await context.browser.newPage();
    await page.goto(slow.url);
    await page.waitForFunction(() => window.demoPage && demoPage.opened, { timeout: 120000 });
    await page.evaluate(() => { window.lossExtension = canvas.getContext('webgl2').getExtension('WEBGL_lose_context');
                                lossExtension.loseContext(); });
    await page.waitForFunction(() => demoPage.lost, { timeout: 30000 });
    slow.release('valdrim.mp3');
    await page.waitForFunction(() => demoPage.sound === 'fetched', { timeout: 30000 });
    await page.evaluate(() => new Promise(r => setTimeout(r, 0)));
    assert.equal(await page.$eval('#prompt', e => e.textContent), 'loading', 'no "click to start" on a lost context');
    assert.equal(await page.evaluate(() => demoPage.ready), false);
    await page.evaluate(() => lossExtension.restoreContext());
    await page.waitForFunction(() => demoPage.ready, { timeout: 30000 });
    await click(page);
    await page.waitForFunction(() => parseFloat(document.title.slice(7)) > 0.5, { timeout: 60000 });
    await page.close();
  } finally {
    await slow.close();
  }
});

test('faults: "play again" without the soundtrack says why once, and why', async () => {
  const bare = await serve(folder, { hidden: ['valdrim.mp3'] });
  try {
    const page = await open(context.browser, bare.url, '?t=86.2');
    await click(page);
    await page.waitForFunction(() => demoPage.ended, { timeout: 30000 });
    await page.click('#prompt button');
    await page.waitForFunction(() => !demoPage.ended && parseFloat(document.title.slice(7)) < 5, { timeout: 30000 });
    const notices = await page.$$eval('#notice', list => list.map(e => e.textContent));
    assert.equal(notices.length, 1, notices.join(' | '));
    assert.match(notices[0], /valdrim\.mp3 was not found.*plays in silence/);
    await page.close();
  } finally {
    await bare.close();
  }
});

test('faults: ?scale=0 and ?scale=-0 render at the smallest scale, as 0.1 does', async () => {
  for (const scale of ['0', '-0', '0.1']) {
    const page = await open(context.browser, context.server.url, `?t=52.8&still&scale=${scale}`);
    await click(page);
    await expectStill(page, 52.8, await nextPicture(page), 0.25);
    await page.close();
  }
});
