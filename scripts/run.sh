#!/usr/bin/env bash
# Installs what building and running need, when missing (scripts/setup.sh), builds the demo and
# its soundtrack and runs it from its own folder, where the soundtrack lies. With a display it
# plays the live show. Without one there is nothing to watch it on, so it renders the show to
# build/show.mp4 instead (1280x720, 30 fps, with sound), on a virtual screen that only provides
# the OpenGL context, through the fastest software OpenGL that draws the same pictures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target demo soundtrack
cd build/bin
if [ -n "${DISPLAY:-}" ]; then
  exec ./demo "$@"
fi
echo "run: no display here, so the show is captured to build/show.mp4 (1280x720, 30 fps, with sound)"
# Where the OpenGL is Mesa's software renderer, its fastest path that draws the same pictures.
"$root/scripts/services.sh" bash -c 'exec env $("$1/scripts/fastest-gl.sh" ./demo) ./demo --capture "$1/build/show.mp4" --size 1280x720 --fps 30' \
  run "$root"
echo "run: the show is in $root/build/show.mp4; play it with any video player, for example: ffplay build/show.mp4"
