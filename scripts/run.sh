#!/usr/bin/env bash
# Installs what is missing, builds the release and runs the demo from its own folder, where its
# soundtrack lies. With a display it plays the live show. Without one there is nothing to watch
# it on, so it renders the show to build/show.mp4 instead (1280x720, 30 fps, with sound), on a
# virtual screen that only provides the OpenGL context.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
cd build/bin
if [ -n "${DISPLAY:-}" ]; then
  exec ./demo "$@"
fi
echo "run: no display here, so the show is captured to build/show.mp4 (1280x720, 30 fps, with sound)"
"$root/scripts/services.sh" ./demo --capture "$root/build/show.mp4" --size 1280x720 --fps 30
echo "run: the show is in $root/build/show.mp4; play it with any video player, for example: ffplay build/show.mp4"
