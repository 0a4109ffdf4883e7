'use strict';
// Which way the show plays: drawn in real time, or as its exact video (show.mp4, made by the
// show's own capture) where real time cannot keep a right picture. The viewer chooses "auto",
// "real time" or "video" (remembered); auto plays in real time where it holds the floor (below),
// and the video where it does not or where WebGL 2 is missing, as long as the connection carries
// the video; it comes back to real time where a new size lets it hold the floor again.
//
// The floor: at least 25 frames a second, with the passes at least 85 % of the picture's width
// (1088 pixels where the picture is wider than 1280): below that the glowing grid breaks into
// dashes and dots (the README shows it).
const wayFloor = {
  fps: 25,
  share: 0.85,
  width: 1088,
  // The lowest render scale that keeps the grid's lines for a picture `pictureWidth` wide.
  scale(pictureWidth) { return Math.min(this.share, this.width / Math.max(1, pictureWidth)); },
};

const showWay = (() => {
  const show = document.getElementById('show');
  const choice = document.getElementById('way');
  const stored = () => { try { return localStorage.getItem('demo-way'); } catch { return null; } };
  const state = {
    // 'auto', 'realtime' or 'video': the address's for this visit, else the viewer's last choice.
    chosen: pageOptions.way || (['realtime', 'video'].includes(stored()) ? stored() : 'auto'),
    video: null,        // { bytes } once show.mp4 is known to be served, false when it is not
    reason: '',         // why the way in use was taken, for the statistics
    probe: null,        // { floorScale, lowestMs, floorMs }: one frame's drawing, measured
    tooSlow: false,     // the connection was found too slow for the video
    pace: null,         // { bandwidth, needed } in bytes a second, as last judged
  };

  // Whether show.mp4 is served, and its size: asked once, without its bytes.
  const videoKnown = fetch('show.mp4', { method: 'HEAD' }).then(response => {
    state.video = response.ok ? { bytes: Number(response.headers.get('Content-Length')) || 0 } : false;
  }, () => { state.video = false; }).then(() => {
    choice.querySelector('option[value="video"]').disabled = !state.video;
  });

  function pictureWidth() {
    const canvas = document.getElementById('canvas');
    return Math.min(canvas.width, canvas.height * 16 / 9);
  }

  // Whether the connection carries the video as it plays (or it is kept offline already).
  async function videoStreams() {
    if (!state.video)
      return false;
    const bandwidth = window.demoPage?.bandwidth();
    if (!bandwidth || !state.video.bytes)
      return true;
    if (await window.caches?.match('show.mp4').catch(() => null))
      return true;
    state.pace = { bandwidth, needed: 1.25 * state.video.bytes / show.duration };
    return bandwidth >= state.pace.needed;
  }

  function tooSlow() {
    state.tooSlow = true;
    const kB = bytes => (bytes / 1000).toFixed(0);
    return `the connection is too slow for the video (${kB(state.pace.bandwidth)} kB/s, it needs ${kB(state.pace.needed)})`;
  }

  // One frame's drawing at a busy moment (the grid and the ring): at the lowest scale first, which
  // alone tells a device far too slow for real time at little cost, then at the floor's. Whether
  // real time holds the floor here, and what was measured.
  function measure() {
    const limit = 1000 / wayFloor.fps;
    const floorScale = wayFloor.scale(pictureWidth());
    const lowestMs = Module._webProbe(0.25, 52.8, 3, limit);
    const floorMs = lowestMs >= 0 && lowestMs <= limit ? Module._webProbe(floorScale, 52.8, 3, limit) : lowestMs;
    state.probe = { floorScale, lowestMs, floorMs };
    const scale = floorMs === lowestMs ? 0.25 : floorScale;
    return { holds: floorMs >= 0 && floorMs <= limit,
             reason: `real time draws a frame in ${floorMs.toFixed(0)} ms at scale ${scale.toFixed(2)}` };
  }

  // The way to start in, once the program is open (or could not be: `program` false).
  async function decide(program) {
    await videoKnown;
    if (!state.video)
      return take('realtime', 'no video served');
    if (!program)
      return take('video', 'no WebGL 2 here');
    if (state.chosen !== 'auto')
      return take(state.chosen, 'chosen');
    if (!await videoStreams())
      return take('realtime', tooSlow());
    const { holds, reason } = measure();
    return take(holds ? 'realtime' : 'video', reason);
  }

  function take(way, reason) {
    state.reason = reason;
    return way;
  }

  // Moves the show to `way` (from the chooser, or auto's judgement), saying why.
  async function use(way, reason) {
    state.reason = reason;
    await show.useWay(way);
    if (way === 'realtime')
      window.demoScale?.restart(2);
  }

  // Auto, in real time: the scale is at the floor and frames still come too slowly.
  async function belowFloor(fps) {
    if (state.chosen !== 'auto' || show.way !== 'realtime')
      return false;
    if (!await videoStreams()) {
      state.reason = tooSlow();
      return false;
    }
    await use('video', `real time came at ${fps.toFixed(1)} fps at the floor's scale`);
    return true;
  }

  // Auto, on the video: a new size is measured again, and real time taken back where it holds.
  let resized = null;
  window.addEventListener('resize', () => {
    clearTimeout(resized);
    resized = setTimeout(() => {
      if (state.chosen !== 'auto' || show.way !== 'video' || !window.demoPage?.opened || window.demoPage.lost)
        return;
      const { holds, reason } = measure();
      if (holds)
        use('realtime', reason + ' at this size');
    }, 500);
  });

  choice.value = state.chosen;
  choice.addEventListener('change', async () => {
    state.chosen = choice.value;
    try { localStorage.setItem('demo-way', state.chosen); } catch { /* not kept */ }
    // Before the way is decided, the decision reads the choice.
    if (!show.state.ready)
      return;
    const program = window.demoPage?.opened && !window.demoPage.lost;
    if (state.chosen === 'video' && state.video)
      await use('video', 'chosen');
    else if (state.chosen === 'realtime' && program)
      await use('realtime', 'chosen');
    else if (state.chosen === 'auto' && show.way === 'video' && program) {
      const { holds, reason } = measure();
      if (holds)
        await use('realtime', reason);
    }
  });

  // The lowest scale the adapting scale may take: the floor's where the video can stand in.
  function lowestScale() {
    return state.chosen === 'auto' && state.video && !state.tooSlow ? wayFloor.scale(pictureWidth()) : 0.25;
  }

  const describe = () => `${show.way === 'video' ? 'video' : 'real time'} (${state.chosen}: ${state.reason})`;
  return { state, decide, use, belowFloor, lowestScale, describe, videoKnown };
})();
