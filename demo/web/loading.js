'use strict';
// The page's loading and hand-over: the program and the soundtrack fetched with a progress bar
// (the soundtrack into the program's file system as it arrives, so that the show starts once the
// seconds it begins with are there), the way decided (way.js), the overlay's start on a click, a
// tap, Enter or Space, the messages for what the browser lacks, the place kept for a reload, and
// the service worker that keeps the page for offline visits.
const options = pageOptions;
const show = document.getElementById('show');
const overlay = document.getElementById('overlay');
const prompt = document.getElementById('prompt');
const message = document.getElementById('message');
const startButton = document.getElementById('start');
const progress = document.getElementById('progress');
const loadedText = document.getElementById('loaded');
const page = { ready: false, started: false, sound: 'loading', pictures: [], ended: false, options };
window.demoPage = page;

// A reload comes back where the viewer was (kept for this tab), not to the address's ?t=.
const reloaded = performance.getEntriesByType('navigation')[0]?.type === 'reload';
const kept = reloaded ? parseFloat(sessionStorage.getItem('demo-time')) : NaN;
show.loop = options.loop;
show.state.time = Number.isFinite(kept) ? Math.min(Math.max(kept, 0), 86.39) : options.start;
const keepPlace = () => {
  if (page.started)
    sessionStorage.setItem('demo-time', String(show.ended ? 0 : show.currentTime));
};
show.addEventListener('timeupdate', keepPlace);
window.addEventListener('pagehide', keepPlace);

function say(text) { message.textContent = text; }

function fail(text) {
  prompt.textContent = '';
  progress.hidden = true;
  startButton.hidden = true;
  say(text);
  overlay.onclick = null;
  overlay.hidden = false;
  page.failed = text;
}

// The program itself not loading (the page opened as a file, a server without demo.wasm, the
// connection lost) would otherwise leave "loading" on the screen for good.
function failToLoad(reason) {
  if (page.ready || page.failed)
    return;
  fail(location.protocol === 'file:'
    ? 'This page was opened as a file, and browsers load its program only from a web server: serve ' +
      'this folder (scripts/web.sh serve, or python3 -m http.server in it) and open the address it gives.'
    : 'The show\'s program (demo.js and demo.wasm) could not be loaded (' + reason + '): reload the page to try again.');
}
window.addEventListener('unhandledrejection', event => failToLoad(String(event.reason)));

// Both downloads count into one bar: the bytes so far against the lengths the server gave (a
// compressed one's length is not the bytes the page sees: those count as they come).
const downloads = {};
function showProgress() {
  let got = 0, total = 0;
  for (const d of Object.values(downloads)) {
    got += d.got;
    total += d.total || d.got;
  }
  const mb = bytes => (bytes / 1e6).toFixed(1);
  progress.value = total ? got / total : 0;
  loadedText.textContent = page.ready ? '' : `${mb(got)} of ${mb(total)} MB`;
}
// The pace the page's downloads came at so far, in bytes a second over the wire (null before
// there is enough to tell), for way.js to judge whether the connection carries the video. Only
// what has come whole counts, as the browser's network stack timed it: a page busy compiling
// reads an arriving download late and would take its own pace for the connection's. Its time is
// that in which some download's body was arriving, overlaps once: the wait for a reply is
// latency, which a video pays once, and a pause between two downloads is no slower connection.
page.bandwidth = () => {
  const done = performance.getEntriesByType('resource').filter(entry => entry.transferSize > 0);
  const bytes = done.reduce((sum, entry) => sum + entry.transferSize, 0);
  const spans = done.map(entry => [entry.responseStart || entry.startTime, entry.responseEnd]).sort((a, b) => a[0] - b[0]);
  let busy = 0, reached = -Infinity;
  for (const [start, end] of spans) {
    busy += Math.max(0, end - Math.max(start, reached));
    reached = Math.max(reached, end);
  }
  const seconds = busy / 1000;
  return seconds > 0.25 && bytes > 64e3 ? bytes / seconds : null;
};
// A download's count: what the server said it sends (unknown when compressed), what came.
function download(response) {
  const encoded = response.headers.get('Content-Encoding');
  return { got: 0, total: encoded ? 0 : Number(response.headers.get('Content-Length')) || 0 };
}
// Fetches `name`, handing each part to `arrived(part)` as it comes; resolves once it is whole.
async function fetchInParts(name, arrived) {
  const response = await fetch(name);
  if (!response.ok)
    throw new Error(name + ': ' + response.status + ' ' + response.statusText);
  const entry = downloads[name] = download(response);
  const reader = response.body.getReader();
  for (;;) {
    const { done, value } = await reader.read();
    if (done)
      break;
    entry.got += value.length;
    arrived(value, entry);
    showProgress();
  }
  return entry;
}
function joined(parts, length) {
  const bytes = new Uint8Array(length);
  let at = 0;
  for (const part of parts) {
    bytes.set(part, at);
    at += part.length;
  }
  return bytes;
}

// The soundtrack, written to the program's file system as it arrives (once the program is
// there). The music may begin once the part from the start on has come, a few seconds more
// than the start: the rest arrives faster than it plays on any connection that can carry the
// page, and music that ran out of what had come goes on when more comes.
const sound = { parts: [], got: 0, total: 0, written: 0, complete: false, missing: false, lead: 3 };
// What to do when more has come: set once the way is decided.
let soundArrived = () => {};
// Whether what has arrived reaches `seconds` into the track and a few more (a constant bit rate).
sound.covers = seconds => sound.complete ||
  (sound.total > 0 && sound.got >= sound.total * Math.min(1, (seconds + sound.lead) / 86.4));
function writeSound() {
  if (typeof Module === 'undefined' || !Module.FS || !page.opened)
    return;
  const FS = Module.FS;
  const stream = FS.open('/valdrim.mp3', sound.written === 0 ? 'w' : 'a');
  for (const part of sound.parts.slice(sound.written))
    FS.write(stream, part, 0, part.length);
  FS.close(stream);
  sound.written = sound.parts.length;
  if (page.started && show.state.running) {
    const t = Module._webTime();
    page.sound = Module._webSoundArrived(sound.covers(t) ? 1 : 0, sound.complete ? 1 : 0) ? 'playing' : page.sound;
  }
}
const soundtrack = fetchInParts('valdrim.mp3', (part, entry) => {
  sound.parts.push(part);
  sound.got = entry.got;
  sound.total = entry.total;
  if (page.sound === 'loading')
    page.sound = 'arriving';
  writeSound();
  soundArrived();
}).then(entry => {
  sound.complete = true;
  page.soundBytes = joined(sound.parts, entry.got);
  page.sound = page.sound === 'playing' ? 'playing' : 'fetched';
  page.soundComplete = true;
  writeSound();
  soundArrived();
}, error => {
  sound.missing = true;
  page.sound = 'missing';
  page.soundError = String(error);
  soundArrived();
});

// The program: its script and its wasm fetched at once, the wasm compiled as it arrives (counted
// for the progress bar on its way to the compiler: Module.instantiateWasm).
let wasm = null;
if (location.protocol === 'file:') {
  // Opened as a file, a fetch fails in a way the page is never told of: it is said at once.
  failToLoad('');
} else {
  wasm = fetch('demo.wasm').then(response => {
    if (!response.ok)
      throw new Error('demo.wasm: ' + response.status + ' ' + response.statusText);
    const entry = downloads['demo.wasm'] = download(response);
    const counted = response.body.pipeThrough(new TransformStream({
      transform(part, out) {
        entry.got += part.length;
        showProgress();
        out.enqueue(part);
      },
    }));
    return new Response(counted, { headers: { 'Content-Type': 'application/wasm' } });
  });
  const script = document.createElement('script');
  script.src = 'demo.js';
  script.onerror = () => failToLoad('demo.js was not found');
  document.body.appendChild(script);
}

// Starts the program at `from` seconds, held there when `held`; the show element's play(), its
// seeks after the end and its way back to real time come here.
function begin(from, held) {
  page.clickedAt = performance.now();
  overlay.hidden = true;
  page.ended = false;
  const soundKind = sound.missing ? 0 : sound.complete ? 1 : sound.covers(from) ? 2 : 3;
  const playing = Module.ccall('webStart', 'number', ['number', 'number', 'number', 'number'],
                               [from, show.loop ? 1 : 0, soundKind, held ? 1 : 0]);
  page.started = true;
  show.started(from, held);
  // The show's main loop asked for its frame first: this callback comes once that frame is drawn.
  requestAnimationFrame(() => { page.firstFrameAt = performance.now(); });
  // Said for each start (play again too) with its own reason, in one notice.
  if (sound.missing)
    notice('The soundtrack valdrim.mp3 was not found (' + page.soundError + '): the show plays in silence.');
  else if (!playing && soundKind !== 3)
    notice('The soundtrack valdrim.mp3 could not be decoded or played: the show plays in silence.');
  else
    notice(null);
  if (playing)
    page.sound = 'playing';
  else if (soundKind === 1 || soundKind === 2)
    page.sound = 'silent';
  document.getElementById('canvas').focus();
}
show.begin = begin;

function startFromOverlay(event) {
  event?.preventDefault();
  event?.stopPropagation();
  overlay.hidden = true;
  page.started = true;
  page.clickedAt = performance.now();
  // From where the show element stands: the address's time, or where a seek before the start put it.
  show.start(options.still).catch(() => {});
  // The bar shows at the start, and hides as it does after any move.
  document.getElementById('player').dispatchEvent(new PointerEvent('pointermove', { bubbles: true }));
}

// A message over the running show, which goes on; null takes it away.
function notice(text) {
  let note = document.getElementById('notice');
  if (text === null) {
    note?.remove();
    return;
  }
  if (!note) {
    note = document.createElement('div');
    note.id = 'notice';
    // Within the controller, so that it shows in full screen too.
    note.slot = 'top-chrome';
    note.setAttribute('noautohide', '');
    document.getElementById('player').appendChild(note);
  }
  note.textContent = text;
}

function touchScreen() { return matchMedia('(pointer: coarse)').matches; }

// Ready for the viewer: the way decided, and what it needs to begin has arrived.
async function prepare(program) {
  const way = await showWay.decide(program);
  if (page.failed)
    return;
  page.way = way;
  if (way === 'video') {
    await show.useWay('video');
    try {
      await show.videoLoaded();
    } catch (error) {
      if (!program) {
        fail('This browser offers no WebGL 2 and the show\'s video could not be loaded: the show needs one of them.');
        return;
      }
      showWay.state.reason = String(error.message);
      await show.useWay('realtime');
      return prepare(program);
    }
    offerStart();
    return;
  }
  // In real time: once the start's part of the soundtrack is there (or known to be missing).
  soundArrived = () => {
    if (!page.ready && !page.failed && !page.lost && (sound.missing || sound.covers(show.state.time)))
      offerStart();
  };
  soundArrived();
}

function offerStart() {
  if (page.ready || page.failed || (page.lost && page.way !== 'video'))
    return;
  page.ready = true;
  page.readyAt = performance.now();
  // What the start waited for, in bytes over the wire: the page's own files (those still under way
  // as far as they came) and the soundtrack's first seconds.
  page.readyBytes = [...performance.getEntriesByType('navigation'), ...performance.getEntriesByType('resource')]
    .filter(entry => !entry.name.endsWith('valdrim.mp3')).reduce((sum, entry) => sum + entry.transferSize, 0) +
    (sound.missing ? 0 : Math.min(sound.got, sound.total * (show.state.time + sound.lead) / 86.4));
  progress.hidden = true;
  showProgress();
  prompt.textContent = touchScreen() ? 'tap to start' : 'click to start';
  startButton.disabled = false;
  overlay.onclick = startFromOverlay;
  show.ready();
  registerOffline();
}

const noWebGl2 = 'This browser offers no WebGL 2 (it may be turned off, or the graphics driver blocked): the show needs it.';
var Module = {
  canvas: document.getElementById('canvas'),
  onAbort: failToLoad,
  instantiateWasm(imports, receive) {
    wasm.then(response => WebAssembly.instantiateStreaming(response, imports))
      .then(({ instance, module }) => receive(instance, module), error => failToLoad(String(error.message || error)));
    return {};
  },
  onRuntimeInitialized() {
    if (!document.createElement('canvas').getContext('webgl2')) {
      withoutProgram(noWebGl2);
      return;
    }
    const opened = Module.ccall('webOpen', 'number', ['number'], [options.scale ?? 1]);
    if (opened === 1) {
      withoutProgram(noWebGl2);
      return;
    }
    if (opened === 2) {
      withoutProgram('This browser\'s WebGL 2 cannot render to half-float targets (EXT_color_buffer_float): the show needs them.');
      return;
    }
    page.opened = true;
    writeSound();
    prepare(true);
  },
  onOpened(shots, length) { show.opened(shots, length); },
  onFrame(t, held, passWidth, passHeight) { show.frame(t, held, passWidth, passHeight); },
  // A picture read back in the frame that drew it: bottom row first, RGBA.
  onPicture(pointer, width, height, milliseconds) {
    const rows = Module.HEAPU8.subarray(pointer, pointer + width * height * 4);
    const image = new ImageData(width, height);
    for (let y = 0; y < height; ++y)
      image.data.set(rows.subarray((height - 1 - y) * width * 4, (height - y) * width * 4), y * width * 4);
    const canvas = document.createElement('canvas');
    canvas.width = width;
    canvas.height = height;
    // Kept in memory: the picture goes straight to a PNG, with no trip through the GPU and back.
    canvas.getContext('2d', { willReadFrequently: true }).putImageData(image, 0, 0);
    const name = 'demo-' + milliseconds + '.png';
    const waiting = page.pictureWaiters || [];
    page.pictureWaiters = [];
    if (waiting.length) {
      waiting.forEach(resolve => resolve({ name, width, height, png: canvas.toDataURL('image/png') }));
      return;
    }
    canvas.toBlob(blob => {
      const link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = name;
      document.body.appendChild(link);
      link.click();
      link.remove();
      page.pictures.push(name);
    }, 'image/png');
  },
  onEnd() { show.end(); },
  // The show holds until the browser gives the context back, and goes on by itself from there.
  onContextLost() {
    page.lost = true;
    notice('The graphics context was lost: the show goes on once the browser gives it back.');
    show.fire('waiting');
  },
  onContextRestored() {
    page.lost = false;
    notice(null);
    if (!page.ready && page.opened)
      soundArrived();
    else if (show.state.running && !show.paused)
      show.state.playingPending = true;
  },
};

// Without a program to draw, the video plays where there is one; otherwise the page says why.
async function withoutProgram(reason) {
  await showWay.videoKnown;
  if (!showWay.state.video) {
    fail(reason);
    return;
  }
  notice(reason.replace(/: the show needs (it|them)\.$/, ': the show plays as its video.'));
  prepare(false);
}

// At the end, "play again" over the black picture (or the show starts again, looping).
show.addEventListener('ended', () => {
  page.ended = true;
  if (show.loop) {
    show.play();
    return;
  }
  prompt.textContent = '';
  startButton.hidden = true;
  say('');
  const again = document.createElement('button');
  again.textContent = 'play again';
  again.onclick = event => {
    event.stopPropagation();
    options.still = false;
    prompt.textContent = '';
    overlay.hidden = true;
    page.ended = false;
    show.play();
  };
  prompt.appendChild(again);
  overlay.onclick = null;
  overlay.hidden = false;
  // Enter or Space presses it from the keyboard.
  again.focus();
});
show.addEventListener('play', () => { page.ended = false; });

// Enter or Space on the overlay starts the show, as a click does.
window.addEventListener('keydown', event => {
  if (overlay.hidden || !page.ready || page.failed || page.ended || (event.key !== 'Enter' && event.key !== ' '))
    return;
  // The show's own keys must not see this press: Space would hold it at once.
  event.stopImmediatePropagation();
  startFromOverlay(event);
}, true);

// Offline after the first visit: the service worker keeps the page, the program and the
// soundtrack (and the video once it has played), registered once the page has what it needs so
// that its copies never compete with the start.
function registerOffline() {
  if (!('serviceWorker' in navigator) || location.protocol === 'file:')
    return;
  soundtrack.then(() => navigator.serviceWorker.register('sw.js')).then(registration => {
    page.offline = registration;
  }, () => {});
  // The video, once played, kept too.
  show.video.addEventListener('playing', () => {
    navigator.serviceWorker.ready.then(registration => registration.active?.postMessage('keep-video'));
  }, { once: true });
}

// For the tests and the benchmark: the next frame's picture, as the S key reads it.
window.demoNextPicture = () => new Promise(resolve => {
  (page.pictureWaiters = page.pictureWaiters || []).push(resolve);
  Module.ccall('webRequestPicture', null, [], []);
});
