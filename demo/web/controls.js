'use strict';
// The viewer's controls beside the bar (which media-chrome builds on the show element): the
// keys, a double tap to seek on a touch screen, the shots marked on the seek bar, the list of
// keys, and the statistics display with the adapting render scale.
(() => {
  const show = document.getElementById('show');
  const player = document.getElementById('player');
  const canvas = document.getElementById('canvas');
  const keysDialog = document.getElementById('keys');
  const statsBox = document.getElementById('stats');
  const statsButton = document.getElementById('stats-button');
  const pinned = parseFloat(new URLSearchParams(location.search).get('scale'));
  const scale = new RenderScale(show, canvas, Number.isFinite(pinned) ? Math.min(Math.max(pinned, 0.25), 1) : null);
  window.demoScale = scale;

  const seekBy = seconds => { show.currentTime = show.currentTime + seconds; };
  // Full screen through the controller, so that its button knows the state.
  const toggleFullscreen = () => show.dispatchEvent(new CustomEvent(
    document.fullscreenElement ? 'mediaexitfullscreenrequest' : 'mediaenterfullscreenrequest',
    { bubbles: true, composed: true }));
  const toggleKeys = () => (keysDialog.open ? keysDialog.close() : keysDialog.showModal());
  const toggleStats = () => {
    statsBox.hidden = !statsBox.hidden;
    statsButton.setAttribute('aria-pressed', String(!statsBox.hidden));
  };
  document.getElementById('keys-button').addEventListener('click', toggleKeys);
  statsButton.addEventListener('click', toggleStats);

  window.addEventListener('keydown', event => {
    if (!window.demoPage?.started || event.ctrlKey || event.metaKey || event.altKey)
      return;
    // A focused control keeps its own keys: Space or Enter presses a button, the arrows move a
    // slider; every other key still works there.
    const target = event.composedPath()[0];
    const within = selector => target instanceof Element && target !== canvas && target.closest(selector);
    const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
    if ((key === ' ' || key === 'Enter') && within('button, [role="button"], dialog'))
      return;
    if (['ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown', 'Home', 'End', 'PageUp', 'PageDown'].includes(key) &&
        within('media-time-range, media-volume-range, input, [role="slider"]'))
      return;
    const step = event.shiftKey ? 1 : 5;
    if (key === ' ' || key === 'k')
      show.paused ? show.play() : show.pause();
    else if (key === 'm')
      show.muted = !show.muted;
    else if (key === 'j' || key === 'ArrowLeft')
      seekBy(-step);
    else if (key === 'l' || key === 'ArrowRight')
      seekBy(step);
    else if (/^[0-9]$/.test(key))
      show.currentTime = show.duration * Number(key) / 10;
    else if (key === 'PageUp')
      show.shot(1);
    else if (key === 'PageDown')
      show.shot(-1);
    else if (key === 'Home')
      show.currentTime = 0;
    else if (key === 'f')
      toggleFullscreen();
    else if (key === 's')
      Module._webRequestPicture();
    else if (key === '?' || key === '/')
      toggleKeys();
    else if (key === 'i')
      toggleStats();
    else
      return;
    event.preventDefault();
  });

  // A double tap on the left or right third goes 5 s back or forward. Taps are the controller's
  // too (one shows or hides the bar), so the second tap of a pair just seeks.
  let lastTap = { at: -Infinity, third: -1 };
  show.addEventListener('pointerup', event => {
    if (event.pointerType !== 'touch')
      return;
    const third = Math.min(2, Math.floor(3 * event.clientX / Math.max(1, show.clientWidth)));
    if (event.timeStamp - lastTap.at < 350 && third === lastTap.third && third !== 1) {
      seekBy(third === 0 ? -5 : 5);
      lastTap = { at: -Infinity, third: -1 };
      return;
    }
    lastTap = { at: event.timeStamp, third };
  });

  // The ten shots as the seek bar's segments (the bar's chapters), named in its tooltip.
  show.addEventListener('durationchange', () => {
    const ends = [...show.shots.slice(1), show.duration];
    document.getElementById('seek').mediaChaptersCues =
      show.shots.map((start, i) => ({ startTime: start, endTime: ends[i], text: `shot ${i + 1}` }));
  });

  // The statistics, a few times a second while shown.
  setInterval(() => {
    if (statsBox.hidden)
      return;
    const s = scale.stats;
    statsBox.textContent = `${s.fps.toFixed(1)} fps\n` +
      `canvas ${canvas.width}×${canvas.height}, passes ${s.passWidth}×${s.passHeight}\n` +
      `scale ${scale.scale}${scale.pinned != null ? ' (pinned)' : ' (adapting)'}`;
  }, 250);
})();
