'use strict';
// The options of the page's address, read once here for every script: ?t=S (the start), ?loop,
// ?scale=F (pinned render scale), ?still (held at the start) and ?way=video or ?way=realtime (the
// picture's way for this visit, over the one the viewer chose before).
const pageOptions = (() => {
  const query = new URLSearchParams(location.search);
  // A number from the address within [low, high]; `otherwise` when there is none (0 is a number,
  // taken to the nearest end of the range like any other).
  const numberOption = (name, low, high, otherwise) => {
    const value = parseFloat(query.get(name));
    return Number.isFinite(value) ? Math.min(Math.max(value, low), high) : otherwise;
  };
  const way = query.get('way');
  return {
    start: numberOption('t', 0, 86.39, 0),
    loop: query.has('loop'),
    // A scale from the address is pinned; without one the page adapts it (scale.js).
    scale: numberOption('scale', 0.25, 1, null),
    still: query.has('still'),
    way: way === 'video' || way === 'realtime' ? way : null,
  };
})();
