'use strict';
// The web's media conventions around the show element: the Media Session (what the lock screen,
// a headset's buttons and the system's media controls show and do) and a screen wake lock while
// the show plays, since an 86 s show outlasts a phone's screen timeout.
(() => {
  const show = document.getElementById('show');
  const page = { wakeLock: null, wakeLockState: 'none' };
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
      session.setPositionState({ duration: show.duration, playbackRate: 1,
                                 position: Math.min(show.currentTime, show.duration) });
    };
    for (const type of ['play', 'pause', 'seeked', 'ended', 'durationchange', 'timeupdate'])
      show.addEventListener(type, position);
  }

  // The lock is released by the browser when the page is hidden, and taken again on its return.
  async function hold() {
    if (!('wakeLock' in navigator) || page.wakeLock || show.paused || document.visibilityState !== 'visible')
      return;
    try {
      page.wakeLockState = 'requested';
      const lock = await navigator.wakeLock.request('screen');
      page.wakeLock = lock;
      page.wakeLockState = 'held';
      lock.addEventListener('release', () => {
        if (page.wakeLock === lock) {
          page.wakeLock = null;
          page.wakeLockState = 'released';
        }
      });
      // Paused while the request was under way.
      if (show.paused)
        release();
    } catch (error) {
      page.wakeLockState = 'refused: ' + error.name;
    }
  }
  function release() {
    const lock = page.wakeLock;
    page.wakeLock = null;
    page.wakeLockState = 'released';
    lock?.release().catch(() => {});
  }
  show.addEventListener('play', hold);
  show.addEventListener('pause', release);
  show.addEventListener('ended', release);
  document.addEventListener('visibilitychange', hold);
})();
