#!/usr/bin/env bash
# Usage: scripts/fastest-gl.sh DEMO_BINARY   (on a display: DISPLAY set, as scripts/services.sh gives)
# Prints the environment (NAME=value words, for env) under which DEMO_BINARY draws fastest with
# the same pictures, and says on standard error, in one line, which renderer that is.
# Where the only OpenGL is Mesa's llvmpipe, zink over lavapipe (Mesa's GL on its Vulkan software
# driver, package mesa-vulkan-drivers) renders the show about 1.5 times as fast: it is taken
# when it is installed, starts, and draws a still within 2/255 of llvmpipe's. Any other renderer
# (a GPU) is left as it is, and the line names it.
set -euo pipefail
demo=$1
label=${FASTEST_GL_LABEL:-run}

# The renderer that draws under the environment given, or why none would: never a failure, so
# that every outcome below is said.
renderer() {
  local said
  said=$(env "$@" "$demo" --bench --frames 1 --size 16x9 2>&1) || true
  if grep -q '^GL renderer: ' <<<"$said"; then sed -n 's/^GL renderer: //p' <<<"$said" | head -n 1
  else  # its first error, else its last word
    echo "none: $({ grep -i -m 1 'error' <<<"$said" || grep -v '^[[:space:]]*$' <<<"$said" | tail -n 1; } | sed 's/^demo: //')"
  fi
}

# The largest difference of any channel between two pictures, in 1/255, by ffmpeg's decoding.
largest_difference() {
  local work=$1
  ffmpeg -v error -y -i "$2" -f rawvideo -pix_fmt rgb24 "$work/a.rgb"
  ffmpeg -v error -y -i "$3" -f rawvideo -pix_fmt rgb24 "$work/b.rgb"
  { cmp -l "$work/a.rgb" "$work/b.rgb" || true; } | awk '
    function octal(s,   n, i) { n = 0; for (i = 1; i <= length(s); i++) n = n * 8 + substr(s, i, 1); return n }
    { d = octal($2) - octal($3); if (d < 0) d = -d; if (d > m) m = d }
    END { print m + 0 }'
}

native=$(renderer)
case $native in
  llvmpipe*) ;;
  none:*) echo "$label: no OpenGL renderer starts here (${native#none: })" >&2; exit 0 ;;
  *) echo "$label: OpenGL from $native" >&2; exit 0 ;;
esac

# lavapipe's Vulkan window-system code wants a runtime folder, and says so on every start.
xdg=()
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  xdg=("XDG_RUNTIME_DIR=${TMPDIR:-/tmp}/demo-runtime-$(id -u)")
  mkdir -p -m 700 "${xdg[0]#*=}"
fi
zink=(LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=zink "${xdg[@]}")
if ! ls /usr/share/vulkan/icd.d/lvp_icd*.json >/dev/null 2>&1; then
  echo "$label: OpenGL from $native (Mesa's software renderer; with mesa-vulkan-drivers installed, zink would be about 1.5 times as fast)" >&2
  exit 0
fi
other=$(renderer "${zink[@]}")
case $other in
  zink*) ;;
  none:*) echo "$label: OpenGL from $native (zink over lavapipe did not start: ${other#none: })" >&2; exit 0 ;;
  *) echo "$label: OpenGL from $native (zink over lavapipe gave $other instead)" >&2; exit 0 ;;
esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! env LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe "$demo" --still 52.8 "$work/llvmpipe.png" --size 320x180 >/dev/null 2>&1 ||
   ! env "${zink[@]}" "$demo" --still 52.8 "$work/zink.png" --size 320x180 >/dev/null 2>&1 ||
   ! difference=$(largest_difference "$work" "$work/llvmpipe.png" "$work/zink.png" 2>/dev/null); then
  echo "$label: OpenGL from $native (a still to compare zink's with could not be drawn)" >&2
  exit 0
fi
if [ "$difference" -gt 2 ]; then
  echo "$label: OpenGL from $native (zink's still differs from it by $difference/255)" >&2
  exit 0
fi
echo "$label: OpenGL from $other, Mesa's GL over Vulkan: llvmpipe's pictures (within $difference/255), faster" >&2
echo "${zink[*]}"
