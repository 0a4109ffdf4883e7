#!/usr/bin/env bash
# Usage: scripts/contact-sheet.sh [BUILD_DIR] [OUT.jpg]
# Makes a contact sheet of the ten shots from the screenshots the end-to-end show test keeps
# (BUILD_DIR/tests/demo/player/show-*.png, taken on a 1280x1024 screen): the 1280x720 picture of each,
# cropped out of its bars, five to a row.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$root/docs/contact-sheet.jpg}
# The show test names each screenshot by its show time in tenths of a second.
[ -x "$build/bin/choreography-dump" ] || { echo "contact-sheet: $build/bin/choreography-dump is missing; build first" >&2; exit 1; }
read -r -a middles <<<"$("$build/bin/choreography-dump" --shot-middles)"
files=()
for middle in "${middles[@]}"; do
  s=$(awk -v t="$middle" 'BEGIN { printf "%d", t * 10 + 0.5 }')
  f="$build/tests/demo/player/show-$s.png"
  [ -f "$f" ] || { echo "contact-sheet: $f is missing; run the show test first" >&2; exit 1; }
  files+=("$f")
done
mkdir -p "$(dirname "$out")"
montage "${files[@]}" -crop 1280x720+0+152 +repage -resize 384x216 -tile 5x2 -geometry +3+3 \
  -background black -strip -quality 85 "$out"
echo "contact-sheet: $out"
