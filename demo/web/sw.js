'use strict';
// The page offline after its first visit: this service worker keeps the page, the program and
// the soundtrack (listed by the build, with a version made from their contents), and the video
// once the viewer has played it, and answers from what it keeps before asking the network. A new
// build is a new version: it keeps the new files and lets the old ones go.
const version = '@DEMO_WEB_VERSION@';
const cacheName = 'demo-' + version;
const files = [@DEMO_WEB_FILES@];

self.addEventListener('install', event => {
  event.waitUntil(caches.open(cacheName).then(cache => cache.addAll(files)).then(() => self.skipWaiting()));
});

// A page already open is left to the network (no clients.claim()): a video it plays must come
// all from one kind of source, and the next visit is the worker's.
self.addEventListener('activate', event => {
  event.waitUntil(caches.keys()
    .then(names => Promise.all(names.filter(name => name.startsWith('demo-') && name !== cacheName)
                                    .map(name => caches.delete(name)))));
});

const scope = new URL(self.registration.scope).pathname;

self.addEventListener('fetch', event => {
  const url = new URL(event.request.url);
  const method = event.request.method;
  if (!['GET', 'HEAD'].includes(method) || url.origin !== location.origin || !url.pathname.startsWith(scope))
    return;
  if (url.pathname.slice(scope.length) === 'show.mp4') {
    event.respondWith(video(event));
    return;
  }
  if (method !== 'GET')
    return;
  // The page's address may carry options (?t=...): the page is the same.
  event.respondWith(caches.match(event.request, { ignoreSearch: true })
    .then(kept => kept || fetch(event.request)));
});

// The video as a media element asks for it: in ranges. Kept whole, it is answered from the
// cache; otherwise from the network, while the whole of it is fetched once to be kept.
async function video(event) {
  const cache = await caches.open(cacheName);
  const kept = await cache.match('show.mp4');
  if (!kept) {
    // Asked for its bytes: the viewer plays it.
    if (event.request.method === 'GET')
      event.waitUntil(keepVideo(cache));
    // The media element's range, asked again in so many words (passed on as it is, it may be
    // dropped), and answered as a response of the worker's own, as those from the cache are: the
    // browser's media loader refuses a resource whose parts come from sources of two kinds.
    const range = event.request.headers.get('Range');
    const response = await fetch(event.request.url, { method: event.request.method, headers: range ? { Range: range } : {} });
    return new Response(response.body, { status: response.status, statusText: response.statusText, headers: response.headers });
  }
  const body = await kept.blob();
  if (event.request.method === 'HEAD')
    return new Response(null, { headers: { 'Content-Type': 'video/mp4', 'Content-Length': String(body.size) } });
  const range = /^bytes=(\d+)-(\d*)$/.exec(event.request.headers.get('Range') || '');
  const headers = { 'Content-Type': 'video/mp4', 'Accept-Ranges': 'bytes' };
  if (!range)
    return new Response(body, { status: 200, headers: { ...headers, 'Content-Length': String(body.size) } });
  const start = Number(range[1]);
  const end = range[2] ? Math.min(Number(range[2]), body.size - 1) : body.size - 1;
  if (start >= body.size)
    return new Response(null, { status: 416, headers: { 'Content-Range': `bytes */${body.size}` } });
  return new Response(body.slice(start, end + 1), { status: 206, headers: {
    ...headers, 'Content-Length': String(end - start + 1), 'Content-Range': `bytes ${start}-${end}/${body.size}` } });
}

// The page says when the viewer has played the video, which may have come before this worker.
self.addEventListener('message', event => {
  if (event.data === 'keep-video')
    event.waitUntil(caches.open(cacheName).then(cache => cache.match('show.mp4').then(kept => kept || keepVideo(cache))));
});

let keeping = null;
function keepVideo(cache) {
  keeping ??= fetch('show.mp4').then(response => (response.ok ? cache.put('show.mp4', response) : null))
    .catch(() => null)
    .finally(() => { keeping = null; });
  return keeping;
}
