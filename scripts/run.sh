#!/usr/bin/env bash
# Installs what is missing, builds the release and runs the demo from its own folder, where its
# soundtrack lies. Without a display it runs on a virtual one (Xvfb), which shows nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
cd build/bin
if [ -n "${DISPLAY:-}" ]; then
  exec ./demo
else
  exec "$root/scripts/services.sh" ./demo
fi
