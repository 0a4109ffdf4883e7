// The show element against a real <video> of the show in the same chromium: the same actions on
// both give the same events in the same order, the same state during them, the same errors, and
// the same playback rate.
// Usage: node media_test.mjs WEB_FOLDER DEMO_BINARY WORK_FOLDER (the native demo makes the video)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { open, click, suite } from './harness.mjs';

const context = suite({ video: true });

// The page drawing in real time at `t`, held, with a real video of the show beside it at `t` too.
async function sideBySide(t) {
  const page = await open(context.browser, context.server.url, `?t=${t}&still&way=realtime`);
  await click(page);
  await page.evaluate(t => new Promise((resolve, reject) => {
    const video = window.reference = document.createElement('video');
    video.src = 'show.mp4';
    video.muted = true;
    // On the screen: a muted video out of sight is paused by the browser.
    video.style = 'position: fixed; left: 0; top: 0; width: 160px; height: 90px; z-index: 100';
    video.addEventListener('error', () => reject(new Error('the video could not be played')));
    video.addEventListener('loadedmetadata', () => {
      video.addEventListener('seeked', resolve, { once: true });
      video.currentTime = t;
    }, { once: true });
    document.body.appendChild(video);
    // What each action gives: its events until `until`, each with seeking and the time then.
    window.trace = (element, act, until) => new Promise(done => {
      const types = ['seeking', 'seeked', 'timeupdate', 'play', 'pause', 'ended', 'ratechange', 'volumechange'];
      const log = [];
      const on = event => {
        log.push([event.type, element.seeking, Math.round(element.currentTime * 10) / 10]);
        if (event.type === until) {
          types.forEach(type => element.removeEventListener(type, on));
          done(log);
        }
      };
      types.forEach(type => element.addEventListener(type, on));
      act(element);
    });
    window.actions = { seekTo20: e => { e.currentTime = 20; }, seekTo40: e => { e.currentTime = 40; },
                       seekPastTheEnd: e => { e.currentTime = 100; }, pause: e => e.pause(), play: e => e.play(),
                       twice: e => { e.playbackRate = 2; }, half: e => { e.playbackRate = 0.5; } };
  }), t);
  return page;
}

// The events an action gave, as comparable: runs of timeupdate as one, and none before the first
// other event (a playing element's own timeupdates may come first).
function shape(log) {
  const out = [];
  for (const entry of log) {
    if (entry[0] === 'timeupdate' && (out.length === 0 || out.at(-1)[0] === 'timeupdate'))
      continue;
    out.push(entry);
  }
  return out.map(([type, seeking]) => `${type}${seeking ? ' (seeking)' : ''}`);
}

// The same action on the show and on the video, one after the other.
function both(page, action, until) {
  return page.evaluate(async (action, until) => ({
    show: await trace(show, actions[action], until), video: await trace(reference, actions[action], until) }),
  action, until);
}

test('events: seeks held and playing, past the end, pause and play, in a video\'s order and state', async () => {
  const page = await sideBySide(10);
  const steps = [['seekTo20', 'seeked'], ['play', 'play'], ['seekTo40', 'seeked'], ['pause', 'pause'],
                 ['play', 'play'], ['seekPastTheEnd', 'ended']];
  for (const [action, until] of steps) {
    const { show, video } = await both(page, action, until);
    console.log(action, JSON.stringify(shape(show)), JSON.stringify(shape(video)));
    assert.deepEqual(shape(show), shape(video), action);
    // During seeking, the new time already.
    const seeking = show.find(([type]) => type === 'seeking');
    if (seeking)
      assert.equal(seeking[2], Math.min(video.find(([type]) => type === 'seeking')[2], 86.4), `${action}: the time while seeking`);
  }
  await page.close();
});

test('errors and rates: out-of-range volume, a non-finite time, the playback rate', async () => {
  const page = await sideBySide(30);
  const errors = await page.evaluate(() => {
    const attempts = [['volume', 2], ['volume', -0.5], ['currentTime', NaN], ['currentTime', Infinity],
                      ['playbackRate', -1], ['playbackRate', NaN]];
    const outcome = (element, [property, value]) => {
      const before = element[property];
      try {
        element[property] = value;
        return `set ${element[property]}`;
      } catch (error) {
        return `${error.name}, ${element[property] === before || Number.isNaN(before) ? 'kept' : 'changed'}`;
      }
    };
    return attempts.map(attempt => [attempt.join(' = '), outcome(show, attempt), outcome(reference, attempt)]);
  });
  for (const [attempt, fromShow, fromVideo] of errors)
    assert.equal(fromShow, fromVideo, attempt);

  // Twice as fast, then half as fast: the picture's time moves so, a ratechange each time.
  await page.evaluate(() => show.play());
  for (const [action, rate] of [['twice', 2], ['half', 0.5]]) {
    const { show, video } = await both(page, action, 'ratechange');
    assert.deepEqual(shape(show), shape(video), action);
    const pace = await page.evaluate(() => new Promise(resolve => {
      const start = [performance.now(), show.currentTime];
      const look = () => (performance.now() - start[0] < 2000 ? requestAnimationFrame(look)
        : resolve((show.currentTime - start[1]) / ((performance.now() - start[0]) / 1000)));
      requestAnimationFrame(look);
    }));
    console.log(`rate ${rate}: the show moved ${pace.toFixed(2)} s a second`);
    assert.ok(Math.abs(pace - rate) < 0.25 * rate, `at rate ${rate} the show moved ${pace} s a second`);
  }
  await page.close();
});
