#!/usr/bin/env bash
# Makes docs/preview.webp, the README's animated preview: five seconds of the show (65 to 70 s,
# the ring starting to turn over the grid) captured with demo --capture at 400x225 and 12 fps.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
(cd "$root/build/bin" && "$root/scripts/services.sh" ./demo --capture "$frames/%04d.png" --size 400x225 --fps 12 \
  --from 65 --to 70)
ffmpeg -v error -y -framerate 12 -i "$frames/%04d.png" -c:v libwebp_anim -quality 55 -loop 0 "$root/docs/preview.webp"
echo "preview: wrote docs/preview.webp"
