'use strict';
// The web's media conventions around the show element: the Media Session (what the lock screen,
// a headset's buttons and the system's media controls show and do) and a screen wake lock while
// the show plays, since an 86 s show outlasts a phone's screen timeout.
(() => {
  const show = document.getElementById('show');
  const page = { wakeLock: null, wakeLockState: 'none', request: null };
  window.demoSession = page;

  if ('mediaSession' in navigator) {
    const session = navigator.mediaSession;
    session.metadata = new MediaMetadata({
      title: 'demo',
      artist: 'a real-time show',
      album: 'star sky, hexagonal terrain and star polyhedra',
      artwork: [{ src: new URL('poster.jpg', location.href).href, sizes: '1200x675', type: 'image/jpeg' }],
    });
    const handlers = {
      play: () => show.play(),
      pause: () => show.pause(),
      seekbackward: details => { show.currentTime = show.currentTime - (details.seekOffset || 5); },
      seekforward: details => { show.currentTime = show.currentTime + (details.seekOffset || 5); },
      seekto: details => { show.currentTime = details.seekTime; },
      previoustrack: () => show.shot(-1),
      nexttrack: () => show.shot(1),
    };
    for (const [action, handler] of Object.entries(handlers)) {
      try {
        session.setActionHandler(action, handler);
      } catch {
        // An action this browser does not know is left out.
      }
    }
    const position = () => {
      if (!Number.isFinite(show.duration))
        return;
      session.playbackState = show.paused ? 'paused' : 'playing';
      session.setPositionState({ duration: show.duration, playbackRate: show.playbackRate || 1,
                                 position: Math.min(show.currentTime, show.duration) });
    };
    for (const type of ['play', 'pause', 'seeked', 'ended', 'durationchange', 'timeupdate', 'ratechange'])
      show.addEventListener(type, position);
  }

  // The lock is released by the browser when the page is hidden, and taken again on its return.
  // One request at a time: a play while one is under way waits for it, and a pause meanwhile
  // lets go of what it brings.
  async function hold() {
    if (!('wakeLock' in navigator) || page.wakeLock || page.request || show.paused || document.visibilityState !== 'visible')
      return;
    try {
      page.wakeLockState = 'requested';
      page.request = navigator.wakeLock.request('screen');
      const lock = await page.request;
      page.wakeLock = lock;
      page.wakeLockState = 'held';
      lock.addEventListener('release', () => {
        if (page.wakeLock === lock) {
          page.wakeLock = null;
          page.wakeLockState = 'released';
        }
      });
    } catch (error) {
      page.wakeLockState = 'refused: ' + error.name;
      return;
    } finally {
      page.request = null;
    }
    // Paused while the request was under way (and not played again since).
    if (show.paused)
      release();
  }
  function release() {
    const lock = page.wakeLock;
    page.wakeLock = null;
    if (lock || page.wakeLockState === 'held')
      page.wakeLockState = 'released';
    lock?.release().catch(() => {});
  }
  show.addEventListener('play', hold);
  show.addEventListener('pause', release);
  show.addEventListener('ended', release);
  document.addEventListener('visibilitychange', hold);
})();
