'use strict';
// The render scale that adapts: the passes (scene and bloom) cost as the square of the scale and
// the rest of a frame does not, so each scale's frame interval is measured and the next one
// predicted from the two nearest measured (a + b·scale²). When frames come slower than the
// display's rate the scale goes down to the step predicted to keep it, never below `lowest()`
// (the floor where the video can stand in); where even the lowest step cannot keep the display's
// rate, the goal is what it is predicted to give. When a step up is predicted to keep the goal,
// or frames come at the display's rate, or only one step was measured yet (a step up is then
// tried), the scale goes back up; a raise that proved too slow is not tried again for a while,
// doubling each time. At the lowest step and still below
// `floorFps`, `belowFloor(fps)` is told. The picture's place and size never change. A scale
// given in the address is kept.

class RenderScale {
  constructor(show, canvas, pinned, lowest = () => 0.25, floorFps = 0, belowFloor = null) {
    this.show = show;
    this.canvas = canvas;
    this.pinned = pinned;
    this.lowest = lowest;
    this.floorFps = floorFps;
    this.belowFloor = belowFloor;
    this.steps = [1, 0.85, 0.7, 0.6, 0.5, 0.42, 0.35, 0.3, 0.25];
    this.index = 0;
    this.scale = pinned ?? 1;
    // The display's frame interval, learnt from the fastest windows seen (60 Hz until then).
    this.interval = 1000 / 60;
    this.measured = new Array(this.steps.length).fill(null);
    this.blockedUntil = new Array(this.steps.length).fill(0);
    this.blockedFor = new Array(this.steps.length).fill(15000);
    this.raise = null;
    this.fastWindows = 0;
    this.slowWindows = 0;
    this.stats = { fps: 0, passWidth: 0, passHeight: 0, windows: 0 };
    this.restart(2);
    this.apply(this.scale);
    show.frameListeners.push((now, t, held, passWidth, passHeight) => this.frame(now, held, passWidth, passHeight));
    // A hidden page gets no frames; its first ones back say nothing about the cost.
    document.addEventListener('visibilitychange', () => this.restart(2));
  }

  apply(scale) {
    this.scale = scale;
    this.canvas.dataset.renderScale = String(scale);
    if (typeof Module !== 'undefined' && Module._webSetScale)
      Module._webSetScale(scale);
  }

  restart(skip) {
    this.window = { start: 0, frames: 0, skip };
  }

  // The lowest step allowed now.
  lowestIndex() {
    const lowest = this.lowest();
    let index = this.steps.length - 1;
    while (index > 0 && this.steps[index] < lowest - 1e-9)
      --index;
    return index;
  }

  // The frame interval predicted at step `j` from the measured steps nearest the current one.
  predict(j) {
    const here = this.measured[this.index];
    const s = this.steps[this.index];
    let other = null;
    for (let d = 1; d < this.steps.length && other === null; ++d)
      for (const k of [this.index - d, this.index + d])
        if (other === null && k >= 0 && k < this.steps.length && this.measured[k] !== null)
          other = k;
    if (other === null)
      return here * (this.steps[j] / s) ** 2;
    const t = this.steps[other];
    const b = Math.max(0, (here - this.measured[other]) / (s * s - t * t));
    const a = Math.max(0, here - b * s * s);
    return a + b * this.steps[j] ** 2;
  }

  frame(now, held, passWidth, passHeight) {
    // A new picture size costs anew: what was measured no longer holds.
    const size = `${this.canvas.width}x${this.canvas.height}`;
    if (size !== this.size) {
      this.size = size;
      this.measured.fill(null);
    }
    this.stats.passWidth = passWidth;
    this.stats.passHeight = passHeight;
    const w = this.window;
    if (w.skip > 0) {
      // The first frames after a start, a change of scale or a return to the page rebuild targets.
      --w.skip;
      w.start = now;
      w.frames = 0;
      return;
    }
    ++w.frames;
    const elapsed = now - w.start;
    // Judged over at least a second and a few frames: one slow frame is no trend.
    if (elapsed < 1000 || w.frames < 3)
      return;
    const interval = elapsed / w.frames;
    this.stats.fps = 1000 / interval;
    ++this.stats.windows;
    this.restart(0);
    this.window.start = now;
    if (interval < this.interval * 0.97)
      this.interval = Math.max(interval, 1000 / 240);
    // Held, the frames cost the same but nothing moves: the scale waits for the show to run.
    if (this.pinned != null || held)
      return;
    const before = this.measured[this.index];
    this.measured[this.index] = before === null ? interval : (before + interval) / 2;
    this.judge(now, interval);
  }

  // The goal: the display's rate, or where even the lowest step cannot keep that, what the lowest
  // step is predicted to give, with a tenth to spare.
  judge(now, interval) {
    const lowest = this.lowestIndex();
    const goal = Math.max(this.interval, this.predict(lowest)) * 1.1;
    const raise = this.raise;
    this.raise = null;
    if (raise && interval > Math.max(goal, raise.expected) * 1.15) {
      // A raise that proved too slow waits twice as long as the one before to be tried again.
      this.blockedFor[this.index] *= 2;
      this.blockedUntil[this.index] = now + this.blockedFor[this.index];
      this.change(raise.from);
      return;
    }
    if (this.belowFloor && interval > 1000 / this.floorFps && (this.index >= lowest || this.predict(lowest) > 1000 / this.floorFps)) {
      if (++this.slowWindows >= 2) {
        this.slowWindows = 0;
        this.belowFloor(1000 / interval);
      }
    } else {
      this.slowWindows = 0;
    }
    if (this.index > lowest) {
      // The floor rose (a larger picture, or the video became a choice).
      this.change(lowest);
      return;
    }
    if (interval > goal * 1.15) {
      this.fastWindows = 0;
      let next = this.index;
      while (next < lowest && this.predict(next) > goal)
        ++next;
      if (next > this.index)
        this.change(next);
      return;
    }
    // Room: a step up predicted to keep the goal, or frames at the display's own rate (where the
    // interval tells nothing of the cost). With this step the only one measured (at this size),
    // one step up is tried for what it costs, expected to cost next to nothing more.
    const up = this.index - 1;
    const alone = this.measured.filter(m => m !== null).length < 2;
    if (up >= 0 && now >= this.blockedUntil[up] && (this.predict(up) <= goal || interval <= this.interval * 1.08 || alone)) {
      // Three windows in a row: one step up.
      if (++this.fastWindows >= 3) {
        this.raise = { from: this.index, expected: alone ? interval : this.predict(up) };
        this.change(up);
      }
    } else {
      this.fastWindows = 0;
    }
  }

  change(index) {
    this.index = index;
    this.fastWindows = 0;
    this.apply(this.steps[index]);
    this.restart(2);
  }
}
