// The page's controls in headless chromium: on a phone (touch, pixel ratio 3) and with a mouse,
// the control bar, the keys' list, the Media Session, the wake lock, the adapting render scale
// and the link preview.
// Usage: node controls_test.mjs WEB_FOLDER DEMO_BINARY WORK_FOLDER (the native demo makes the stills)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { KnownDevices } from 'puppeteer-core';
import { launch, open, click, nextPicture, compare, nativeStill, swiftshader, suite } from './harness.mjs';

const context = suite();
const { demo, work } = context;
const phone = KnownDevices['iPhone 13 Pro landscape']; // 844x390 CSS pixels at 3: 2532x1170
const upright = KnownDevices['iPhone 13 Pro']; // 390x844

const shownTime = async page => parseFloat((await page.title()).replace(/^demo \u2014 /, ''));
const centre = async (page, selector) => page.$eval(selector, e => {
  const r = e.getBoundingClientRect();
  return { x: r.x + r.width / 2, y: r.y + r.height / 2, width: r.width, height: r.height };
});

// Waits until the music's output carries sound (or silence), read by an analyser on it.
function waitForSound(page, audible) {
  return page.waitForFunction(audible => {
    const device = miniaudio.devices.find(d => d && d.webaudio && d.scriptNode);
    if (!device)
      return false;
    if (!window.testAnalyser || window.testAnalyser.context !== device.webaudio) {
      window.testAnalyser = device.webaudio.createAnalyser();
      window.testAnalyser.fftSize = 2048;
      device.scriptNode.connect(window.testAnalyser);
    }
    const samples = new Float32Array(2048);
    window.testAnalyser.getFloatTimeDomainData(samples);
    const loudest = samples.reduce((m, s) => Math.max(m, Math.abs(s)), 0);
    return audible ? loudest > 1e-3 : loudest === 0;
  }, { timeout: 60000, polling: 200 }, audible);
}

test('touch: a tap starts and shows the bar, pause holds, a double tap seeks and says so, full screen, a swipe stays', async () => {
  const page = await open(context.browser, context.server.url, '?t=20', null, null, phone);
  assert.equal(await page.$eval('#prompt', e => e.textContent), 'tap to start');
  await page.touchscreen.tap(422, 195);
  await page.waitForFunction(() => demoPage.started && !show.paused, { timeout: 30000 });
  await waitForSound(page, true);
  // The bar hides by itself while the show plays; a tap on the picture brings it back.
  await page.waitForFunction(() => player.hasAttribute('userinactive'), { timeout: 60000 });
  await page.touchscreen.tap(422, 120);
  await page.waitForFunction(() => !player.hasAttribute('userinactive'), { timeout: 30000 });
  const small = await page.$$eval('#bar > *', controls => controls.map(c => [c.localName, c.getBoundingClientRect()])
    .filter(([, r]) => r.width > 0 && (r.width < 44 || r.height < 44)).map(([name]) => name));
  assert.deepEqual(small, [], 'every touch target is at least 44x44 CSS pixels');
  const pauseButton = await centre(page, 'media-play-button');
  await page.touchscreen.tap(pauseButton.x, pauseButton.y);
  await page.waitForFunction(() => document.title.endsWith('(paused)'), { timeout: 30000 });
  const [a, b] = [await nextPicture(page), await nextPicture(page)];
  assert.deepEqual([a.width, a.height], [2080, 1170], 'the picture, letterboxed in the phone\'s 2532x1170 device pixels');
  assert.equal((await compare(page, a.png, b.png, 0)).largest, 0, 'the held picture stays');
  await waitForSound(page, false);

  // Two taps on the right third, sent back to back: the show moves 5 s and says so on that side.
  const held = await shownTime(page);
  await page.evaluate(() => {
    const feedback = document.getElementById('tap-seek');
    window.tapSeeks = [];
    new MutationObserver(() => feedback.hidden || tapSeeks.push(`${feedback.dataset.side} ${feedback.textContent}`))
      .observe(feedback, { attributes: true, childList: true, subtree: true });
  });
  const session = await page.target().createCDPSession();
  const touch = (type, x) => session.send('Input.dispatchTouchEvent', {
    type, touchPoints: type === 'touchEnd' ? [] : [{ x, y: 150 }] });
  await Promise.all([touch('touchStart', 760), touch('touchEnd'), touch('touchStart', 760), touch('touchEnd')]);
  await page.waitForFunction(t => document.title.startsWith(`demo \u2014 ${(t + 5).toFixed(2)} s`), {}, held);
  assert.deepEqual(await page.evaluate(() => tapSeeks), ['right +5 s']);

  // (Before the swipe: a tap right after one makes no click in this chromium.)
  const fullscreen = await centre(page, 'media-fullscreen-button');
  await page.touchscreen.tap(fullscreen.x, fullscreen.y);
  await page.waitForFunction(() => document.fullscreenElement === player, { timeout: 30000 });

  // A horizontal swipe across the picture neither leaves, scrolls nor moves the show.
  const address = page.url();
  const moved = await shownTime(page);
  await session.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [{ x: 60, y: 200 }] });
  for (let x = 100; x <= 800; x += 100)
    await session.send('Input.dispatchTouchEvent', { type: 'touchMove', touchPoints: [{ x, y: 205 }] });
  await session.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
  await nextPicture(page);
  assert.equal(page.url(), address);
  assert.deepEqual(await page.evaluate(() => [scrollX, scrollY, demoPage.failed ?? null]), [0, 0, null]);
  assert.equal(await shownTime(page), moved);

  await page.close();
});

test('portrait: on an upright phone the seek bar takes the whole width and nothing leaves the screen', async () => {
  const page = await open(context.browser, context.server.url, '?t=50&still', null, null, upright);
  await page.touchscreen.tap(195, 300);
  await page.waitForFunction(() => demoPage.started && !player.hasAttribute('userinactive'), { timeout: 30000 });
  const layout = await page.evaluate(() => ({
    width: innerWidth,
    seek: document.getElementById('seek').shadowRoot.querySelector('#range').getBoundingClientRect().width,
    outside: [...document.querySelectorAll('#bar > *')]
      .map(c => [c.id || c.localName, c.getBoundingClientRect()])
      .filter(([, r]) => r.width > 0 && (r.left < 0 || r.right > innerWidth || r.top < 0 || r.bottom > innerHeight))
      .map(([name]) => name),
    rows: new Set([...document.querySelectorAll('#bar > :not(#seek)')].map(c => c.getBoundingClientRect())
      .filter(r => r.width > 0).map(r => Math.round(r.top))).size,
  }));
  assert.deepEqual(layout.outside, [], 'controls off the screen');
  assert.equal(layout.rows, 1, 'the buttons in one row under the seek bar');
  assert.ok(layout.seek >= 0.85 * layout.width, `the seek track is ${layout.seek} of ${layout.width} CSS pixels`);
  await page.close();
});

test('mouse: the seek bar lands on the still of its time, and every control is named', async () => {
  const page = await open(context.browser, context.server.url, '?t=10&still&scale=1');
  // Enter starts the show from the keyboard, as a click does.
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.title === 'demo \u2014 10.00 s (paused)');
  // Dragged from the thumb to where 52.8 s lies along the track.
  const bar = await page.$eval('#seek', e => {
    const r = e.shadowRoot.querySelector('#range').getBoundingClientRect();
    return { left: r.left, width: r.width, y: r.top + r.height / 2 };
  });
  await page.mouse.move(bar.left + bar.width * 10 / 86.4, bar.y);
  await page.mouse.down();
  await page.mouse.move(bar.left + bar.width * 52.8 / 86.4, bar.y, { steps: 5 });
  await page.mouse.up();
  await page.waitForFunction(() => !document.title.startsWith('demo \u2014 10.00'));
  const landed = await shownTime(page);
  assert.ok(Math.abs(landed - 52.8) < 0.5, `landed at ${landed} s`);
  const picture = await nextPicture(page);
  assert.equal(picture.name, `demo-${Math.round(landed * 1000)}.png`);
  const difference = await compare(page, picture.png, nativeStill(demo, work, landed), 0.05 * 255);
  assert.ok(difference.over <= 4, `${difference.over} pixels beyond 5 % at ${landed} s`);

  // The accessibility tree: each control a named button or slider; the seek bar speaks the time.
  const controls = [];
  const walk = node => {
    if (['button', 'slider'].includes(node.role))
      controls.push(node);
    (node.children || []).forEach(walk);
  };
  walk(await page.accessibility.snapshot({ interestingOnly: false }));
  const names = controls.map(c => c.name);
  for (const name of ['play', 'seek back 5 seconds', 'seek forward 5 seconds', 'seek', 'mute', 'volume', 'keys',
                      'statistics', 'enter fullscreen mode'])
    assert.ok(names.includes(name), `"${name}" among ${JSON.stringify(names)}`);
  assert.ok(controls.every(c => c.name), 'no control without a name');
  // What a screen reader speaks for the seek slider (this chromium's tree itself gives the number).
  const spoken = await page.$eval('#seek', e => e.shadowRoot.querySelector('[role="slider"], input').getAttribute('aria-valuetext'));
  assert.equal(spoken, `${Math.floor(landed)} seconds of 1 minute, 26 seconds`);

  // 5: the fifth tenth of the show; ? the keys' list.
  await page.keyboard.press('5');
  await page.waitForFunction(() => document.title === 'demo \u2014 43.20 s (paused)');
  await page.keyboard.press('?');
  await page.waitForFunction(() => document.getElementById('keys').open);
  await page.close();
});

test('mouse: the bar shows at the start, a click on the picture plays and pauses, a double click is full screen, the tooltip names the shot', async () => {
  const page = await open(context.browser, context.server.url, '?t=30');
  await click(page);
  await page.waitForFunction(() => !show.paused && !player.hasAttribute('userinactive'), { timeout: 30000 });
  await page.mouse.click(320, 120);
  await page.waitForFunction(() => show.paused && document.title.endsWith('(paused)'), { timeout: 30000 });
  await page.mouse.click(320, 120);
  await page.waitForFunction(() => !show.paused && !document.title.endsWith('(paused)'), { timeout: 30000 });
  // Its two clicks cancel out: the show still plays, in full screen.
  await page.mouse.click(320, 120, { count: 2 });
  await page.waitForFunction(() => document.fullscreenElement === player, { timeout: 30000 });
  assert.equal(await page.evaluate(() => show.paused), false);
  await page.evaluate(() => document.exitFullscreen());

  // Over the seek bar at 52 s: the seventh shot.
  await page.mouse.click(320, 120);
  await page.waitForFunction(() => show.paused, { timeout: 30000 });
  const bar = await page.$eval('#seek', e => {
    const r = e.shadowRoot.querySelector('#range').getBoundingClientRect();
    return { left: r.left, width: r.width, y: r.top + r.height / 2 };
  });
  await page.mouse.move(bar.left + bar.width * 52 / 86.4, bar.y, { steps: 3 });
  await page.waitForFunction(() => /shot 7: the glowing grid/.test(
    document.querySelector('media-preview-chapter-display').shadowRoot.textContent), { timeout: 30000 });
  await page.close();
});

test('media conventions: the Media Session, the wake lock, the link preview', async () => {
  // Records the handlers the page gives the Media Session, so that the test can act as the system;
  // the wake lock allowed, as a visible page's is.
  const watched = await open(context.browser, context.server.url, '?t=30', undefined, async page => {
    await page.evaluateOnNewDocument(() => {
      window.sessionActions = {};
      const set = navigator.mediaSession.setActionHandler.bind(navigator.mediaSession);
      navigator.mediaSession.setActionHandler = (action, handler) => {
        window.sessionActions[action] = handler;
        set(action, handler);
      };
    });
    await (await page.target().createCDPSession()).send('Browser.setPermission', {
      permission: { name: 'screen-wake-lock' }, setting: 'granted', origin: new URL(context.server.url).origin });
  });
  const session = await watched.evaluate(() => ({
    title: navigator.mediaSession.metadata?.title, artwork: navigator.mediaSession.metadata?.artwork.map(a => a.src),
    actions: Object.keys(sessionActions).sort() }));
  assert.equal(session.title, 'demo');
  assert.deepEqual(session.actions, ['nexttrack', 'pause', 'play', 'previoustrack', 'seekbackward', 'seekforward', 'seekto']);
  await click(watched);
  await watched.waitForFunction(() => demoSession.wakeLockState === 'held', { timeout: 30000 });
  await watched.evaluate(() => sessionActions.seekto({ action: 'seekto', seekTime: 70 }));
  await watched.waitForFunction(() => show.currentTime >= 70 && show.currentTime < 75, { timeout: 30000 });
  await watched.evaluate(() => sessionActions.pause({ action: 'pause' }));
  await watched.waitForFunction(() => document.title.endsWith('(paused)') && demoSession.wakeLockState === 'released');

  // The link preview: its tags, and the picture they name served beside the page.
  const tags = await watched.evaluate(() => Object.fromEntries(
    [...document.querySelectorAll('meta[property^="og:"], meta[name="description"], meta[name^="twitter:"]')]
      .map(m => [m.getAttribute('property') || m.name, m.content])));
  for (const tag of ['description', 'og:title', 'og:description', 'og:image', 'og:url', 'twitter:card', 'twitter:image'])
    assert.ok(tags[tag], `${tag} is set`);
  assert.equal(tags['twitter:card'], 'summary_large_image');
  // Absolute, at the address the page was built for, as a preview fetches them from elsewhere.
  assert.match(tags['og:url'], /^https?:\/\/[^/]+\/(.*\/)?$/);
  assert.equal(tags['og:image'], new URL('poster.jpg', tags['og:url']).href);
  assert.equal(tags['twitter:image'], tags['og:image']);
  const artwork = await watched.evaluate(async src => {
    const response = await fetch(new URL(src, location.href));
    const bitmap = await createImageBitmap(await response.blob());
    return { ok: response.ok, type: response.headers.get('Content-Type'), width: bitmap.width };
  }, 'poster.jpg');
  assert.deepEqual(artwork, { ok: true, type: 'image/jpeg', width: 1200 });

  // Installed: the manifest and its icons, the Apple icon and favicon.ico, each served and decoded.
  const installed = await watched.evaluate(async () => {
    const link = rel => document.querySelector(`link[rel="${rel}"]`)?.href;
    const manifest = await (await fetch(link('manifest'))).json();
    const size = async src => {
      const bitmap = await createImageBitmap(await (await fetch(new URL(src, location.href))).blob());
      return `${bitmap.width}x${bitmap.height}`;
    };
    return {
      name: manifest.name, display: manifest.display, start: manifest.start_url,
      icons: await Promise.all(manifest.icons.filter(i => i.type === 'image/png').map(i => size(i.src).then(s => `${i.sizes} ${s}`))),
      apple: await size(link('apple-touch-icon')), favicon: await size('favicon.ico'),
    };
  });
  assert.ok(installed.name && installed.start && ['fullscreen', 'standalone'].includes(installed.display));
  assert.deepEqual(installed.icons, ['192x192 192x192', '512x512 512x512', '512x512 512x512']);
  assert.equal(installed.apple, '180x180');
  assert.equal(installed.favicon, '48x48');
  await watched.close();
});

test('faults: play, pause and play again within one wake lock request leaves one lock, let go on pause', async () => {
  // Each request is answered only once the test lets it go; every lock handed out is counted
  // until released.
  const page = await open(context.browser, context.server.url, '?t=30', undefined, async page => {
    await page.evaluateOnNewDocument(() => {
      const request = navigator.wakeLock.request.bind(navigator.wakeLock);
      window.wakeLocks = { pending: [], active: 0, requests: 0 };
      navigator.wakeLock.request = type => {
        ++wakeLocks.requests;
        return new Promise(resolve => wakeLocks.pending.push(() => request(type).then(lock => {
          ++wakeLocks.active;
          lock.addEventListener('release', () => --wakeLocks.active);
          resolve(lock);
        })));
      };
    });
    await (await page.target().createCDPSession()).send('Browser.setPermission', {
      permission: { name: 'screen-wake-lock' }, setting: 'granted', origin: new URL(context.server.url).origin });
  });
  await click(page);
  await page.waitForFunction(() => wakeLocks.pending.length === 1, { timeout: 30000 });
  await page.evaluate(() => { show.pause(); return show.play(); });
  await page.evaluate(() => wakeLocks.pending.splice(0).forEach(go => go()));
  await page.waitForFunction(() => demoSession.wakeLockState === 'held', { timeout: 30000 });
  assert.deepEqual(await page.evaluate(() => [wakeLocks.requests, wakeLocks.active]), [1, 1], 'one request, one lock');
  await page.evaluate(() => show.pause());
  await page.waitForFunction(() => wakeLocks.active === 0, { timeout: 30000 });
  await page.close();
});

test('render scale: SwiftShader at 1280x720 lowers it by itself and a small window raises it again; ?scale=1 keeps it', async () => {
  const size = { width: 1280, height: 720 };
  const software = await launch(swiftshader, size);
  try {
    const adapting = await open(software, context.server.url, '?t=40&loop', size);
    await click(adapting);
    await adapting.waitForFunction(() => Number(canvas.dataset.renderScale) < 1, { timeout: 120000, polling: 500 });
    const lowered = await adapting.evaluate(() => ({ windows: demoScale.stats.windows, width: canvas.width,
                                                     scale: Number(canvas.dataset.renderScale) }));
    assert.equal(lowered.width, 1280, 'the picture keeps its size');
    // A small window has room: the scale rises again.
    await adapting.setViewport({ width: 160, height: 90, deviceScaleFactor: 1 });
    await adapting.waitForFunction(scale => Number(canvas.dataset.renderScale) > scale, { timeout: 120000, polling: 500 },
                                   lowered.scale);
    await adapting.close();

    const pinned = await open(software, context.server.url, '?t=40&scale=1', size);
    await click(pinned);
    // As many windows of frames judged as the adapting page needed to lower it.
    await pinned.waitForFunction(windows => demoScale.stats.windows >= windows, { timeout: 120000, polling: 500 },
                                 lowered.windows);
    assert.equal(await pinned.evaluate(() => canvas.dataset.renderScale), '1');
    await pinned.close();
  } finally {
    await software.close();
  }
});
