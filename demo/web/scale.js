'use strict';
// The render scale that adapts: the passes (scene and bloom) are what cost, and they cost as the
// square of the scale, so when frames come slower than the display's rate the scale goes down in
// steps, and when there is room again it goes back up. The picture's place and size never
// change, only the passes' sharpness. A scale given in the address is kept as it is.

class RenderScale {
  constructor(show, canvas, pinned) {
    this.show = show;
    this.canvas = canvas;
    this.pinned = pinned;
    this.steps = [1, 0.85, 0.7, 0.6, 0.5, 0.42, 0.35, 0.3, 0.25];
    this.index = 0;
    this.scale = pinned ?? 1;
    // The display's frame interval, learnt from the fastest windows seen (60 Hz until then).
    this.interval = 1000 / 60;
    this.window = { start: 0, frames: 0, skip: 2 };
    this.last = 0;
    // When a raised scale proved too slow, that step is not tried again for a while: no pumping.
    this.blockedUntil = new Array(this.steps.length).fill(0);
    this.blockedFor = new Array(this.steps.length).fill(15000);
    this.fastWindows = 0;
    this.trial = null;
    this.lowerBlockedUntil = 0;
    this.lowerBlockedFor = 10000;
    this.stats = { fps: 0, passWidth: 0, passHeight: 0, windows: 0 };
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

  frame(now, held, passWidth, passHeight) {
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
    const trial = this.trial;
    this.trial = null;
    if (trial && interval > trial.interval * 0.9) {
      // Lowering gained nothing: the passes are not what is slow (the page, the machine), so the
      // sharper picture comes back and lowering waits.
      this.lowerBlockedUntil = now + (this.lowerBlockedFor *= 2);
      this.change(trial.from);
      return;
    }
    if (interval > this.interval * 1.25 && this.index < this.steps.length - 1 && now >= this.lowerBlockedUntil) {
      // Far too slow: as far down at once as the passes' share of the cost suggests.
      const wanted = this.scale * Math.sqrt(this.interval / interval);
      let next = this.index + 1;
      while (next < this.steps.length - 1 && this.steps[next] > wanted)
        ++next;
      if (this.raisedFrom !== undefined && this.index < this.raisedFrom) {
        // Each failed try waits twice as long as the one before.
        this.blockedFor[this.index] *= 2;
        this.blockedUntil[this.index] = now + this.blockedFor[this.index];
      }
      this.raisedFrom = undefined;
      this.trial = { from: this.index, interval };
      this.change(next);
    } else if (interval < this.interval * 1.08 && this.index > 0) {
      // Room to spare, three windows in a row: one step up, unless that step failed lately.
      if (++this.fastWindows >= 3 && now >= this.blockedUntil[this.index - 1]) {
        this.raisedFrom = this.index;
        this.change(this.index - 1);
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
