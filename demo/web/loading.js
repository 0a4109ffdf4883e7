'use strict';
// The page's loading and hand-over: the options from the address (?t=S, ?loop, ?scale=F, and
// ?still, which holds the picture at S from the start), the program and the soundtrack fetched
// with a progress bar, the overlay's start on a click, a tap, Enter or Space, and the messages
// for what the browser lacks.
const query = new URLSearchParams(location.search);
// A number from the address within [low, high]; `otherwise` when there is none (0 is a number,
// taken to the nearest end of the range like any other).
function numberOption(name, low, high, otherwise) {
  const value = parseFloat(query.get(name));
  return Number.isFinite(value) ? Math.min(Math.max(value, low), high) : otherwise;
}
const options = {
  start: numberOption('t', 0, 86.39, 0),
  loop: query.has('loop'),
  // A scale from the address is pinned; without one the page adapts it (scale.js).
  scale: numberOption('scale', 0.25, 1, null),
  still: query.has('still'),
};
const show = document.getElementById('show');
const overlay = document.getElementById('overlay');
const prompt = document.getElementById('prompt');
const message = document.getElementById('message');
const startButton = document.getElementById('start');
const progress = document.getElementById('progress');
const loadedText = document.getElementById('loaded');
const page = { ready: false, started: false, sound: 'loading', pictures: [], ended: false, options };
window.demoPage = page;
show.loop = options.loop;
show.state.time = options.start;

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

// Both downloads count into one bar: the bytes so far against the lengths the server gave.
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
async function fetchWithProgress(name) {
  const response = await fetch(name);
  if (!response.ok)
    throw new Error(name + ': ' + response.status + ' ' + response.statusText);
  const entry = downloads[name] = { got: 0, total: Number(response.headers.get('Content-Length')) || 0 };
  if (!response.body)
    return new Uint8Array(await response.arrayBuffer());
  const reader = response.body.getReader();
  const parts = [];
  for (;;) {
    const { done, value } = await reader.read();
    if (done)
      break;
    parts.push(value);
    entry.got += value.length;
    showProgress();
  }
  const bytes = new Uint8Array(entry.got);
  let at = 0;
  for (const part of parts) {
    bytes.set(part, at);
    at += part.length;
  }
  return bytes;
}

const soundtrack = fetchWithProgress('valdrim.mp3').then(
  bytes => { page.soundBytes = bytes; page.sound = 'fetched'; },
  error => { page.sound = 'missing'; page.soundError = String(error); });

// The program: its wasm fetched here (for the progress bar), then its script, which takes it.
if (location.protocol === 'file:') {
  // Opened as a file, a fetch fails in a way the page is never told of: it is said at once.
  failToLoad('');
} else {
  fetchWithProgress('demo.wasm').then(bytes => {
    Module.wasmBinary = bytes;
    const script = document.createElement('script');
    script.src = 'demo.js';
    script.onerror = () => failToLoad('demo.js was not found');
    document.body.appendChild(script);
  }, error => failToLoad(String(error.message || error)));
}

// Starts the program at `from` seconds, held there when `held`; the show element's play() and
// seeks after the end come here.
function begin(from, held) {
  page.clickedAt = performance.now();
  overlay.hidden = true;
  page.ended = false;
  let withSound = 0;
  if (page.soundBytes) {
    Module.FS.writeFile('/valdrim.mp3', page.soundBytes);
    withSound = 1;
  }
  const playing = Module.ccall('webStart', 'number', ['number', 'number', 'number', 'number'],
                               [from, show.loop ? 1 : 0, withSound, held ? 1 : 0]);
  page.started = true;
  show.started(from, held);
  // The show's main loop asked for its frame first: this callback comes once that frame is drawn.
  requestAnimationFrame(() => { page.firstFrameAt = performance.now(); });
  // Said for each start (play again too) with its own reason, in one notice.
  if (!page.soundBytes)
    notice('The soundtrack valdrim.mp3 was not found (' + page.soundError + '): the show plays in silence.');
  else if (!playing)
    notice('The soundtrack valdrim.mp3 could not be decoded or played: the show plays in silence.');
  else
    notice(null);
  page.sound = playing ? 'playing' : 'silent';
  document.getElementById('canvas').focus();
}
show.begin = begin;

function startFromOverlay(event) {
  event?.preventDefault();
  // From where the show element stands: the address's time, or where a seek before the start put it.
  begin(show.state.time, options.still);
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

var Module = {
  canvas: document.getElementById('canvas'),
  onAbort: failToLoad,
  onRuntimeInitialized() {
    if (!document.createElement('canvas').getContext('webgl2')) {
      fail('This browser offers no WebGL 2 (it may be turned off, or the graphics driver blocked): the show needs it.');
      return;
    }
    const opened = Module.ccall('webOpen', 'number', ['number'], [options.scale ?? 1]);
    if (opened === 1) {
      fail('This browser offers no WebGL 2 (it may be turned off, or the graphics driver blocked): the show needs it.');
      return;
    }
    if (opened === 2) {
      fail('This browser\'s WebGL 2 cannot render to half-float targets (EXT_color_buffer_float): the show needs them.');
      return;
    }
    page.opened = true;
    soundtrack.then(() => {
      // A context lost while the soundtrack came in has said so for good.
      if (page.failed)
        return;
      page.ready = true;
      progress.hidden = true;
      showProgress();
      prompt.textContent = touchScreen() ? 'tap to start' : 'click to start';
      startButton.disabled = false;
      overlay.onclick = startFromOverlay;
      show.ready();
    });
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
  onEnd() {
    page.ended = true;
    show.end();
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
      show.play();
    };
    prompt.appendChild(again);
    overlay.onclick = null;
    overlay.hidden = false;
    // Enter or Space presses it from the keyboard.
    again.focus();
  },
  onContextLost() {
    fail('The graphics context was lost. ');
    const reload = document.createElement('button');
    reload.textContent = 'reload';
    reload.onclick = () => location.reload();
    message.appendChild(reload);
  },
};

// Enter or Space on the overlay starts the show, as a click does.
window.addEventListener('keydown', event => {
  if (overlay.hidden || !page.ready || page.failed || page.ended || (event.key !== 'Enter' && event.key !== ' '))
    return;
  // The show's own keys must not see this press: Space would hold it at once.
  event.stopImmediatePropagation();
  startFromOverlay(event);
}, true);

// For the tests and the benchmark: the next frame's picture, as the S key reads it.
window.demoNextPicture = () => new Promise(resolve => {
  (page.pictureWaiters = page.pictureWaiters || []).push(resolve);
  Module.ccall('webRequestPicture', null, [], []);
});
