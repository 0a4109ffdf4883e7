'use strict';
// The show as a media element: <demo-show> answers as a <video> does (play(), pause(), paused,
// currentTime, duration, ended, seeking, volume, muted, loop, playbackRate, seekable, readyState,
// and their events in a video's order), so that the control bar, the keys, the Media Session and
// the tests all drive the show through one object. It plays one of two ways: drawn in real time
// by the program on the canvas, or as the show's exact video (the <video> inside it); useWay()
// moves between them at the same show time. The program is reached through its exports (webStart
// through the loader's begin, webSetPaused, webSeek, webTime, ...) and tells of each frame drawn
// through Module.onFrame.

// What each of the ten shots shows, for the seek bar's tooltip.
const shotNames = ['over the terrain', 'the terrain from above', 'the first polyhedron', 'a polyhedron overhead',
                   'around the ring', 'the front runs out', 'the glowing grid', 'the hub from below',
                   'the ring turns', 'the fade'];

// A video's own checks on what is set, with its messages.
function finiteOrThrow(value, property) {
  const number = Number(value);
  if (!Number.isFinite(number))
    throw new TypeError(`Failed to set the '${property}' property on 'DemoShow': The provided double value is non-finite.`);
  return number;
}

class DemoShow extends HTMLElement {
  constructor() {
    super();
    // `running`: the program has been started and has not ended.
    this.state = { ready: false, started: false, running: false, paused: true, ended: false, seeking: false,
                   time: 0, duration: NaN, volume: 1, muted: false, loop: false, rate: 1, lastUpdate: -Infinity,
                   gain: null, playingPending: false };
    this.way = 'realtime';
    this.switching = false;
    this.frameListeners = [];
    this.shots = [];
    // Set by the loader: starts the program at `from` seconds (held: paused at once).
    this.begin = null;
    this.video = null;
  }

  connectedCallback() {
    if (this.video)
      return;
    this.video = this.querySelector('video');
    this.dataset.way = this.way;
    // In the video's way its events are the show's, but for those of a change of way.
    for (const type of ['play', 'playing', 'pause', 'seeking', 'seeked', 'timeupdate', 'ended', 'waiting'])
      this.video.addEventListener(type, () => {
        if (this.way !== 'video' || this.switching)
          return;
        const s = this.state;
        if (type === 'play' || type === 'pause')
          s.paused = type === 'pause';
        s.ended = this.video.ended;
        s.time = this.video.currentTime;
        this.fire(type);
      });
  }

  get videoWay() { return this.way === 'video'; }
  get paused() { return this.state.paused; }
  get ended() { return this.videoWay ? this.video.ended : this.state.ended; }
  get seeking() { return this.videoWay ? this.video.seeking : this.state.seeking; }
  get duration() { return this.state.duration; }
  get readyState() { return this.state.ready ? 4 : 0; }
  get error() { return null; }
  // The shots as a chapters track (the seek bar's segments and its tooltip read it).
  get textTracks() { return this.video.textTracks; }
  get seekable() { return this.range(); }
  get buffered() { return this.range(); }
  range() {
    const end = Number.isFinite(this.state.duration) ? this.state.duration : 0;
    return { length: end > 0 ? 1 : 0, start: () => 0, end: () => end };
  }

  // While the program runs, the time is read from it, as its next frame draws it.
  get currentTime() {
    const s = this.state;
    if (this.videoWay && s.started)
      return this.video.currentTime;
    return s.running ? Module._webTime() : s.time;
  }
  set currentTime(value) {
    const s = this.state;
    const t = Math.min(Math.max(finiteOrThrow(value, 'currentTime'), 0), Number.isFinite(s.duration) ? s.duration : Infinity);
    s.time = t;
    if (this.videoWay && s.started) {
      this.video.currentTime = t;
      return;
    }
    // As a video's: seeking, with the new time, until the picture of that time is drawn; then
    // timeupdate and seeked.
    s.seeking = true;
    if (s.running) {
      Module._webSeek(0, t);
      this.fire('seeking');
    } else if (s.started && this.begin) {
      // After the end, a seek chooses where the next start begins, held.
      s.ended = false;
      this.fire('seeking');
      this.begin(t, true);
    } else {
      this.fire('seeking');
      this.landed();
    }
  }

  landed() {
    const s = this.state;
    if (!s.seeking)
      return;
    s.seeking = false;
    s.lastUpdate = performance.now();
    this.fire('timeupdate');
    this.fire('seeked');
  }

  // To the next (1) or previous (-1) shot start, as Page Up and Page Down go.
  shot(direction) {
    const s = this.state;
    if (!s.running || this.videoWay) {
      const t = this.currentTime;
      const next = direction > 0 ? this.shots.find(start => start > t + 1e-3)
                                 : [...this.shots].reverse().find(start => start < t - 0.5);
      this.currentTime = next === undefined ? (direction > 0 ? s.duration : 0) : next;
      return;
    }
    Module._webSeek(direction > 0 ? 1 : -1, 0);
    s.seeking = true;
    this.fire('seeking');
  }

  // The viewer's start (the overlay's): from where the show stands, held when asked.
  start(held) {
    const s = this.state;
    s.started = true;
    if (this.videoWay) {
      this.video.currentTime = s.time;
      return held ? Promise.resolve() : this.video.play();
    }
    this.begin(s.time, held);
    return Promise.resolve();
  }

  play() {
    const s = this.state;
    if (!s.ready)
      return Promise.reject(new DOMException('The show is still loading', 'NotAllowedError'));
    if (this.videoWay) {
      s.started = true;
      return this.video.play();
    }
    if (!s.running) {
      const from = s.ended ? 0 : s.time;
      s.started = true;
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
    if (this.videoWay) {
      this.video.pause();
      return;
    }
    if (s.running && !s.paused) {
      Module._webSetPaused(1);
      s.time = Module._webTime();
      this.fire('timeupdate');
      this.setPaused(true);
    }
  }

  get volume() { return this.state.volume; }
  set volume(value) {
    const volume = finiteOrThrow(value, 'volume');
    if (volume < 0 || volume > 1)
      throw new DOMException(`Failed to set the 'volume' property on 'DemoShow': The volume provided (${volume}) is outside the range [0, 1].`, 'IndexSizeError');
    if (volume === this.state.volume)
      return;
    this.state.volume = volume;
    this.applyVolume();
  }
  get muted() { return this.state.muted; }
  set muted(value) {
    if (!!value === this.state.muted)
      return;
    this.state.muted = !!value;
    this.applyVolume();
  }
  get loop() { return this.state.loop; }
  set loop(value) {
    const s = this.state;
    s.loop = !!value;
    if (this.video)
      this.video.loop = s.loop;
    if (s.running)
      Module._webSetLoop(s.loop ? 1 : 0);
  }

  // Slow motion below 1, fast forward above: the picture at that speed, the video's sound
  // following it, the program's music silent.
  get playbackRate() { return this.state.rate; }
  set playbackRate(value) {
    const rate = finiteOrThrow(value, 'playbackRate');
    if (rate !== 0 && (rate < 0.0625 || rate > 16))
      throw new DOMException(`Failed to set the 'playbackRate' property on 'DemoShow': The provided playback rate (${rate}) is not in the supported playback range.`, 'NotSupportedError');
    if (rate === this.state.rate)
      return;
    this.state.rate = rate;
    this.video.playbackRate = rate;
    if (typeof Module !== 'undefined' && Module._webSetRate)
      Module._webSetRate(rate);
    this.fire('ratechange');
  }
  get defaultPlaybackRate() { return 1; }
  set defaultPlaybackRate(value) { finiteOrThrow(value, 'defaultPlaybackRate'); }

  // The program's music passes a gain of the page's own, made when a start opens a new output;
  // the video has its own volume.
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
    this.video.volume = s.volume;
    this.video.muted = s.muted;
    if (!quiet)
      this.fire('volumechange');
  }

  setPaused(paused) {
    const s = this.state;
    if (s.paused === paused)
      return;
    s.paused = paused;
    this.fire(paused ? 'pause' : 'play');
    // 'playing' once a frame of it is drawn.
    s.playingPending = !paused;
  }

  fire(type) { this.dispatchEvent(new Event(type)); }

  // The video, loaded far enough to seek in it.
  videoLoaded() {
    const video = this.video;
    if (video.readyState >= 1)
      return Promise.resolve();
    return new Promise((resolve, reject) => {
      video.addEventListener('loadedmetadata', resolve, { once: true });
      video.addEventListener('error', () => reject(new Error('the video could not be loaded')), { once: true });
      video.preload = 'auto';
      if (video.networkState === HTMLMediaElement.NETWORK_EMPTY || video.networkState === HTMLMediaElement.NETWORK_IDLE)
        video.load();
    });
  }

  // Plays on the other way from the same show time, playing or held as it was. The program is
  // held (drawing nothing, its music silent) while the video plays, and the video while it draws.
  async useWay(way) {
    if (way === this.way)
      return;
    const s = this.state;
    const t = this.currentTime;
    const playing = s.started && !s.paused && !this.ended;
    this.switching = true;
    this.way = way;
    this.dataset.way = way;
    try {
      if (way === 'video') {
        if (s.running)
          Module._webSetPaused(1);
        this.applyVolume(true);
        await this.videoLoaded();
        if (s.started) {
          await new Promise(resolve => {
            this.video.addEventListener('seeked', resolve, { once: true });
            this.video.currentTime = t;
          });
          if (playing)
            await this.video.play();
        }
      } else {
        this.video.pause();
        if (s.started && !s.ended) {
          if (s.running) {
            Module._webSeek(0, t);
            if (playing)
              Module._webSetPaused(0);
          } else {
            this.begin(t, !playing);
          }
        }
      }
    } finally {
      this.switching = false;
    }
    s.time = t;
    this.fire('waychange');
  }

  // From the loader: the program is open, with its shot starts and length.
  opened(shots, length) {
    this.shots = shots;
    this.state.duration = length;
    const track = this.video.addTextTrack('chapters', 'shots');
    shots.forEach((start, i) =>
      track.addCue(new VTTCue(start, shots[i + 1] ?? length, `shot ${i + 1}: ${shotNames[i] ?? ''}`)));
    this.fire('durationchange');
    this.fire('loadedmetadata');
  }
  ready() {
    this.state.ready = true;
    this.fire('canplay');
    this.fire('canplaythrough');
  }
  // A start of the program (webStart) has just been made.
  started(from, held) {
    const s = this.state;
    s.started = true;
    s.running = true;
    s.ended = false;
    s.time = from;
    this.applyVolume(true);
    Module._webSetLoop(s.loop ? 1 : 0);
    this.setPaused(!!held);
  }
  // Each frame the program draws: its time, whether it is held, and the passes' size.
  frame(t, held, passWidth, passHeight) {
    const s = this.state;
    if (this.videoWay)
      return;
    s.time = t;
    const now = performance.now();
    if (s.seeking) {
      this.landed();
    } else if (!held && now - s.lastUpdate >= 250) {
      // As a video does, a few times a second while it plays.
      s.lastUpdate = now;
      this.fire('timeupdate');
    }
    if (s.playingPending && !held) {
      s.playingPending = false;
      this.fire('playing');
    }
    for (const listener of this.frameListeners)
      listener(now, t, held !== 0, passWidth, passHeight);
  }
  // The program reached the end (a seek past it included): as a video's end.
  end() {
    const s = this.state;
    s.running = false;
    s.time = s.duration;
    this.landed();
    s.ended = true;
    s.gain = null;
    this.fire('timeupdate');
    if (!s.paused) {
      s.paused = true;
      this.fire('pause');
    }
    this.fire('ended');
  }
}
customElements.define('demo-show', DemoShow);
