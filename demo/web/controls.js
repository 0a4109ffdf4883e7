'use strict';
// The viewer's controls beside the bar (which media-chrome builds on the show element): a click
// on the picture plays or pauses and a double click toggles full screen, a double tap seeks with
// its ±5 s shown, the keys, the list of keys, and the statistics with the adapting render scale
// and the way the show plays.
(() => {
  const show = document.getElementById('show');
  const player = document.getElementById('player');
  const canvas = document.getElementById('canvas');
  const keysDialog = document.getElementById('keys');
  const statsBox = document.getElementById('stats');
  const statsButton = document.getElementById('stats-button');
  const scale = new RenderScale(show, canvas, pageOptions.scale, showWay.lowestScale, wayFloor.fps, showWay.belowFloor);
  window.demoScale = scale;

  const seekBy = seconds => { show.currentTime = Math.min(Math.max(show.currentTime + seconds, 0), show.duration); };
  // Full screen through the controller, so that its button knows the state.
  const toggleFullscreen = () => show.dispatchEvent(new CustomEvent(
    document.fullscreenElement ? 'mediaexitfullscreenrequest' : 'mediaenterfullscreenrequest',
    { bubbles: true, composed: true }));
  const toggleKeys = () => (keysDialog.open ? keysDialog.close() : keysDialog.showModal());
  const toggleStats = () => {
    statsBox.hidden = !statsBox.hidden;
    statsButton.setAttribute('aria-pressed', String(!statsBox.hidden));
  };
  const togglePlay = () => (show.paused ? show.play().catch(() => {}) : show.pause());
  document.getElementById('keys-button').addEventListener('click', toggleKeys);
  statsButton.addEventListener('click', toggleStats);

  // The picture as a video player's: a click plays or pauses, a double click (whose two clicks
  // cancel out) toggles full screen. Taps are the controller's (one shows or hides the bar).
  let pointer = 'mouse';
  show.addEventListener('pointerdown', event => { pointer = event.pointerType; });
  show.addEventListener('click', () => {
    if (pointer !== 'touch' && window.demoPage?.started)
      togglePlay();
  });
  show.addEventListener('dblclick', () => {
    if (pointer !== 'touch' && window.demoPage?.started)
      toggleFullscreen();
  });

  // S saves the picture shown: the program's, or the video's frame.
  function savePicture() {
    if (show.way !== 'video') {
      Module._webRequestPicture();
      return;
    }
    const video = show.video;
    const picture = document.createElement('canvas');
    picture.width = video.videoWidth;
    picture.height = video.videoHeight;
    picture.getContext('2d').drawImage(video, 0, 0);
    picture.toBlob(blob => {
      const link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = `demo-${Math.round(video.currentTime * 1000)}.png`;
      link.click();
    }, 'image/png');
  }

  window.addEventListener('keydown', event => {
    if (!window.demoPage?.started || event.ctrlKey || event.metaKey || event.altKey)
      return;
    // A focused control keeps its own keys: Space or Enter presses a button, the arrows move a
    // slider; every other key still works there.
    const target = event.composedPath()[0];
    const within = selector => target instanceof Element && target !== canvas && target.closest(selector);
    const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
    if ((key === ' ' || key === 'Enter') && within('button, select, [role="button"], dialog'))
      return;
    if (['ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown', 'Home', 'End', 'PageUp', 'PageDown'].includes(key) &&
        within('media-time-range, media-volume-range, input, select, [role="slider"]'))
      return;
    const step = event.shiftKey ? 1 : 5;
    if (key === ' ' || key === 'k')
      togglePlay();
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
      savePicture();
    else if (key === '?' || key === '/')
      toggleKeys();
    else if (key === 'i')
      toggleStats();
    else
      return;
    event.preventDefault();
  });

  // A double tap on the left or right third goes 5 s back or forward, and says so where it was
  // tapped. Taps are the controller's too (one shows or hides the bar), so the second tap of a
  // pair just seeks.
  const feedback = document.getElementById('tap-seek');
  let lastTap = { at: -Infinity, third: -1 };
  show.addEventListener('pointerup', event => {
    if (event.pointerType !== 'touch')
      return;
    const third = Math.min(2, Math.floor(3 * event.clientX / Math.max(1, show.clientWidth)));
    if (event.timeStamp - lastTap.at < 350 && third === lastTap.third && third !== 1) {
      seekBy(third === 0 ? -5 : 5);
      feedback.textContent = third === 0 ? '−5 s' : '+5 s';
      feedback.dataset.side = third === 0 ? 'left' : 'right';
      // Shown anew at each double tap: the animation restarts.
      feedback.hidden = true;
      void feedback.offsetWidth;
      feedback.hidden = false;
      lastTap = { at: -Infinity, third: -1 };
      return;
    }
    lastTap = { at: event.timeStamp, third };
  });
  feedback.addEventListener('animationend', () => { feedback.hidden = true; });

  // The statistics, a few times a second while shown.
  setInterval(() => {
    if (statsBox.hidden)
      return;
    const s = scale.stats;
    const video = show.video;
    const frames = video.getVideoPlaybackQuality?.();
    statsBox.textContent = `way: ${showWay.describe()}\n` + (show.way === 'video'
      ? `video ${video.videoWidth}×${video.videoHeight}, ${frames?.totalVideoFrames ?? 0} frames shown, ` +
        `${frames?.droppedVideoFrames ?? 0} dropped`
      : `${s.fps.toFixed(1)} fps\n` +
        `canvas ${canvas.width}×${canvas.height}, passes ${s.passWidth}×${s.passHeight}\n` +
        `scale ${scale.scale}${scale.pinned != null ? ' (pinned)' : ' (adapting)'}`);
  }, 250);

  // A held picture is drawn again at a new size; nothing else draws while held.
  new ResizeObserver(() => {
    if (show.state.running && show.paused && show.way === 'realtime')
      Module._webRedraw();
  }).observe(canvas);
})();
