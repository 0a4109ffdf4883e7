'use strict';
// The show as a media element: <demo-show> answers as a <video> does (play(), pause(), paused,
// currentTime, duration, ended, volume, muted, loop, seekable, readyState, and their events),
// so that the control bar, the keys, the Media Session and the tests all drive the show through
// one object. It speaks to the program through its exports (webSetPaused, webSeek, webTime,
// webStart through the loader) and hears of every frame drawn through Module.onFrame.

class DemoShow extends HTMLElement {
  constructor() {
    super();
    this.state = { ready: false, started: false, paused: true, ended: false, seeking: false, time: 0,
                   duration: NaN, volume: 1, muted: false, loop: false, lastUpdate: -Infinity, gain: null };
    this.frameListeners = [];
    this.shots = [];
    // Set by the loader: starts the program at `from` seconds (held: paused at once).
    this.begin = null;
  }

  get paused() { return this.state.paused; }
  get ended() { return this.state.ended; }
  get seeking() { return this.state.seeking; }
  get duration() { return this.state.duration; }
  get readyState() { return this.state.ready ? 4 : 0; }
  get playbackRate() { return 1; }
  get error() { return null; }
  get seekable() { return this.range(); }
  get buffered() { return this.range(); }
  range() {
    const end = Number.isFinite(this.state.duration) ? this.state.duration : 0;
    return { length: end > 0 ? 1 : 0, start: () => 0, end: () => end };
  }

  // While the show runs, the time is read from the program, as the next frame draws it.
  get currentTime() {
    const s = this.state;
    return s.started && !s.ended ? Module._webTime() : s.time;
  }
  set currentTime(value) {
    const s = this.state;
    const t = Math.min(Math.max(Number(value) || 0, 0), Number.isFinite(s.duration) ? s.duration : Infinity);
    s.time = t;
    this.fire('seeking');
    if (s.started && !s.ended) {
      s.seeking = true;
      Module._webSeek(0, t);
    } else {
      // Before the start or after the end, a seek chooses where the next start begins, held.
      s.ended = false;
      if (s.started && this.begin) {
        s.seeking = true;
        this.begin(t, true);
      } else {
        this.fire('seeked');
        this.fire('timeupdate');
      }
    }
  }

  // To the next (1) or previous (-1) shot start, as Page Up and Page Down go.
  shot(direction) {
    const s = this.state;
    if (!s.started || s.ended) {
      const t = this.currentTime;
      const next = direction > 0 ? this.shots.find(start => start > t + 1e-3)
                                 : [...this.shots].reverse().find(start => start < t - 0.5);
      this.currentTime = next === undefined ? (direction > 0 ? this.state.duration : 0) : next;
      return;
    }
    s.seeking = true;
    this.fire('seeking');
    Module._webSeek(direction > 0 ? 1 : -1, 0);
  }

  play() {
    const s = this.state;
    if (!s.ready)
      return Promise.reject(new DOMException('The show is still loading', 'NotAllowedError'));
    if (!s.started || s.ended) {
      const from = s.ended ? 0 : s.time;
      s.ended = false;
      this.begin(from, false);
    } else if (s.paused) {
      Module._webSetPaused(0);
      this.setPaused(false);
    }
    return Promise.resolve();
  }

  pause() {
    const s = this.state;
    if (s.started && !s.ended && !s.paused) {
      Module._webSetPaused(1);
      this.setPaused(true);
    }
  }

  get volume() { return this.state.volume; }
  set volume(value) {
    this.state.volume = Math.min(Math.max(Number(value), 0), 1);
    this.applyVolume();
  }
  get muted() { return this.state.muted; }
  set muted(value) {
    this.state.muted = !!value;
    this.applyVolume();
  }
  get loop() { return this.state.loop; }
  set loop(value) { this.state.loop = !!value; }

  // The music's output passes a gain of the page's own, made when a start opens a new output.
  applyVolume(quiet) {
    const s = this.state;
    const device = typeof miniaudio !== 'undefined' && miniaudio.devices.find(d => d && d.webaudio && d.scriptNode);
    if (device && (!s.gain || s.gain.context !== device.webaudio)) {
      s.gain = device.webaudio.createGain();
      device.scriptNode.disconnect();
      device.scriptNode.connect(s.gain);
      s.gain.connect(device.webaudio.destination);
    }
    if (s.gain)
      s.gain.gain.value = s.muted ? 0 : s.volume;
    if (!quiet)
      this.fire('volumechange');
  }

  setPaused(paused) {
    if (this.state.paused === paused)
      return;
    this.state.paused = paused;
    this.fire(paused ? 'pause' : 'play');
    if (!paused)
      this.fire('playing');
  }

  fire(type) { this.dispatchEvent(new Event(type)); }

  // From the loader: the program is open, with its shot starts and length.
  opened(shots, length) {
    this.shots = shots;
    this.state.duration = length;
    this.fire('durationchange');
    this.fire('loadedmetadata');
  }
  ready() {
    this.state.ready = true;
    this.fire('canplay');
    this.fire('canplaythrough');
  }
  // A start (webStart) has just been made.
  started(from, held) {
    const s = this.state;
    s.started = true;
    s.ended = false;
    s.time = from;
    this.applyVolume(true);
    this.setPaused(!!held);
    if (s.seeking) {
      s.seeking = false;
      this.fire('seeked');
    }
    this.fire('timeupdate');
  }
  // Each frame drawn: its time, whether it is held, and the passes' size.
  frame(t, held, passWidth, passHeight) {
    const s = this.state;
    s.time = t;
    this.setPaused(held !== 0);
    const now = performance.now();
    if (s.seeking) {
      s.seeking = false;
      this.fire('seeked');
    }
    // As a video does, a few times a second, and at once after a seek.
    if (now - s.lastUpdate >= 250) {
      s.lastUpdate = now;
      this.fire('timeupdate');
    }
    for (const listener of this.frameListeners)
      listener(now, t, held !== 0, passWidth, passHeight);
  }
  end() {
    const s = this.state;
    s.ended = true;
    s.time = s.duration;
    s.gain = null;
    this.setPaused(true);
    this.fire('timeupdate');
    this.fire('ended');
  }
}
customElements.define('demo-show', DemoShow);
