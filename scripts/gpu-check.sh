#!/usr/bin/env bash
# The show on a real GPU, checked in one run: the Linux package (build-linux/demo-linux-x86_64.tar.gz)
# on a machine that has a GPU but no display, no network and none of a desktop's libraries.
#
#   scripts/gpu-check.sh --prepare   here, once: fills build-gpu/carry with what that machine lacks
#                                    (Debian 11 .deb files of the GL loaders, Mesa, Xvfb and the X
#                                    libraries), the package, the swap-logging shim and llvmpipe's
#                                    stills at 1920x1080, the references the GPU's stills are
#                                    compared with
#   scripts/gpu-check.sh             there, from the repository root with build-gpu/carry beside it
#   scripts/gpu-check.sh --here      a dry run of the same on this machine's llvmpipe at small sizes
#
# The check unpacks the .debs into a folder of its own (never into /), starts the carried Xvfb
# and routes the show's GLX context to the NVIDIA driver (__GLX_VENDOR_LIBRARY_NAME=nvidia). It
# records the GL vendor, renderer and version; fails at once when the renderer is a software
# one (except --here); then the stills at 10, 43.2, 52.8, 67.4 and 80 s against the references
# (share of pixels off by more than 2/255, largest difference; any error the driver reports
# through its debug output fails a still), --bench at 1920x1080 and
# 3840x2160, the live show's frame rate in a 1920x1080 window with --no-vsync for 10 s, and a
# 10 s capture at 1920x1080 and 60 fps against the benchmark's frame rate. Everything goes to
# $OUT when set, else build/gpu-check (--here: build/gpu-check-here): summary.txt, details.txt,
# stills.tar and logs.tar.gz. GPU_CHECK_CARRY names another carried folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

mode=gpu
case ${1:-} in
  "") ;;
  --here) mode=here ;;
  --prepare) mode=prepare ;;
  *) echo "usage: $0 [--here | --prepare]" >&2; exit 2 ;;
esac

carry=${GPU_CHECK_CARRY:-$root/build-gpu/carry}
name=demo-linux-x86_64
times=(10 43.2 52.8 67.4 80)
# The GPU's stills are compared with llvmpipe's at this size.
still_size=1920x1080
if [ "$mode" = here ]; then
  still_size=320x180
  bench_sizes=(320x180 480x270)
  bench_frames=8
  live_size=320x180
  live_seconds=3
  capture=(--size 320x180 --fps 30 --from 43.2 --to 44.2)
  screen=640x360
else
  bench_sizes=(1920x1080 3840x2160)
  bench_frames=300
  live_size=1920x1080
  live_seconds=10
  capture=(--size 1920x1080 --fps 60 --from 43.2 --to 53.2)
  screen=1920x1080
fi
# The Debian packages that a bare machine may lack, from Debian 11 so that they ask for no newer
# C library than the package does; those every system has are left out.
debs=(xvfb x11-xkb-utils xkb-data libgl1 libglx0 libglvnd0 libopengl0 libegl1 libgl1-mesa-dri
      libglx-mesa0 libx11-6 libxrandr2 libudev1)
base_debs=" gcc-10-base libgcc-s1 libcrypt1 libc6 libgpg-error0 libgcrypt20 liblz4-1 liblzma5 libzstd1
  libsystemd0 libaudit-common libcap-ng0 libaudit1 libbz2-1.0 zlib1g libtinfo6 libstdc++6 lsb-base
  libpcre2-8-0 libselinux1 libuuid1 x11-common xserver-common "

work=$(mktemp -d)
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
say() { echo "gpu-check: $*" >&2; }
fail() { say "$*"; exit 1; }

# A Python with PIL, for comparing pictures.
python=
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c 'import PIL' 2>/dev/null; then
    python=$candidate
    break
  fi
done

# unpack_carried: the carried .debs unpacked into $work/sys; sets sys and libs.
sys=
libs=
unpack_carried() {
  ls "$carry"/debs/*.deb >/dev/null 2>&1 || return 0
  sys=$work/sys
  mkdir -p "$sys"
  local deb
  for deb in "$carry"/debs/*.deb; do dpkg-deb -x "$deb" "$sys"; done
  libs=$sys/usr/lib/x86_64-linux-gnu:$sys/lib/x86_64-linux-gnu
}

# start_x WxH: an Xvfb screen of that size (the carried one when there is one); sets DISPLAY.
start_x() {
  local server=Xvfb options=() environment=() fd
  if [ -n "$sys" ]; then
    server=$sys/usr/bin/Xvfb
    options=(-xkbdir "$sys/usr/share/X11/xkb")
    # Its GLX extension draws with the carried Mesa.
    environment=(LD_LIBRARY_PATH="$libs" LIBGL_DRIVERS_PATH="$sys/usr/lib/x86_64-linux-gnu/dri")
    # Xvfb runs its keymap compiler from /usr/bin only.
    if [ ! -x /usr/bin/xkbcomp ]; then
      [ "$mode" = gpu ] || fail "/usr/bin/xkbcomp is missing"
      ln -s "$sys/usr/bin/xkbcomp" /usr/bin/xkbcomp
    fi
  fi
  exec {fd}<> <(:)
  env "${environment[@]}" "$server" -displayfd "$fd" -screen 0 "${1}x24" -nolisten tcp -noreset "${options[@]}" \
    >"$work/logs/xvfb.log" 2>&1 &
  xvfb=$!
  local number
  read -r -t 30 -u "$fd" number || { cat "$work/logs/xvfb.log" >&2; fail "Xvfb did not start"; }
  exec {fd}<&-
  export DISPLAY=:$number
}

# demo_env: the environment the package's demo runs in.
demo_env=()
set_demo_env() {
  local path=$libs
  if [ "$mode" = gpu ]; then
    # The driver's own GL libraries, wherever the machine keeps them.
    local dir
    for dir in $(find /usr/local/nvidia /usr/lib/x86_64-linux-gnu /usr/lib64 /usr/lib -maxdepth 2 \
                   -name 'libGLX_nvidia.so.0' -printf '%h\n' 2>/dev/null | sort -u); do
      path=$path:$dir
    done
    # GPU_CHECK_GLX_VENDOR= (empty) leaves the choice to the GL library, to try the check's
    # failure on a machine without the GPU.
    vendor=${GPU_CHECK_GLX_VENDOR-nvidia}
    [ -z "$vendor" ] || demo_env=(__GLX_VENDOR_LIBRARY_NAME="$vendor")
  elif [ -n "$sys" ]; then
    # Debian 11's Mesa offers software OpenGL 3.3 only when asked.
    demo_env=(MESA_GL_VERSION_OVERRIDE=3.3COMPAT)
  fi
  [ -z "$sys" ] || demo_env+=(LIBGL_DRIVERS_PATH="$sys/usr/lib/x86_64-linux-gnu/dri")
  demo_env+=(LD_LIBRARY_PATH="${path#:}")
}

# demo ARGUMENT...: the package's demo, run in its folder.
# No step may hold the check past its time on the machine.
demo() { (cd "$work/$name" && exec timeout -k 5 150 env "${demo_env[@]}" ./demo "$@"); }

unpack_package() {
  local archive=$1
  [ -f "$archive" ] || fail "$archive is missing"
  tar -xzf "$archive" -C "$work"
}

# compare A B: "share% largest" of two pictures of the same size: the share of pixels whose
# largest channel difference is above 2/255, and the largest difference.
compare() {
  "$python" - "$1" "$2" <<'EOF'
import sys
from PIL import Image, ImageChops
a, b = (Image.open(p).convert("RGB") for p in sys.argv[1:3])
if a.size != b.size:
    sys.exit("sizes differ: %s and %s" % (a.size, b.size))
r, g, b2 = ImageChops.difference(a, b).split()
largest = ImageChops.lighter(ImageChops.lighter(r, g), b2)
histogram = largest.histogram()
beyond = sum(histogram[3:])
print("%.3f %d" % (100.0 * beyond / (a.size[0] * a.size[1]), max(i for i, n in enumerate(histogram) if n)))
EOF
}

# make_stills FOLDER SIZE: the demo's stills at the check's times.
make_stills() {
  mkdir -p "$1"
  local t
  for t in "${times[@]}"; do
    demo --still "$t" "$1/still-$t.png" --size "$2" --gl-errors >>"$work/logs/stills.log" 2>&1 ||
      { cat "$work/logs/stills.log" >&2; fail "--still $t failed"; }
  done
}

if [ "$mode" = prepare ]; then
  mkdir -p "$work/logs"
  source scripts/packages.sh
  [ -f "build-linux/$name.tar.gz" ] || bash scripts/package.sh
  [ -n "$python" ] || fail "no Python with PIL (apt-get install python3-pil)"
  rm -rf "$carry.new"
  mkdir -p "$carry.new/debs" "$carry.new/ref"
  cp "build-linux/$name.tar.gz" "$carry.new/"
  # The shim that logs the live show's buffer swaps, built against Debian 11's C library too.
  scripts/root.sh run build-linux/roots/bullseye-build --bind "$root" --cd "$root" -- \
    g++ -O2 -shared -fPIC -fvisibility=hidden -o "$carry.new/libframe-bench-swaps.so" \
    tools/frame-bench/swap_log.cpp -ldl
  private_apt "$work/apt" deb bullseye
  : >"$work/status"
  apt_options+=(-o "Dir::State::Status=$work/status" -o APT::Architecture=amd64 -o APT::Architectures=amd64)
  apt-get "${apt_options[@]}" -qq update
  # Everything they need, as an empty system would install it, less what every system has.
  mapfile -t needed < <(apt-get "${apt_options[@]}" -qq install --print-uris --no-install-recommends "${debs[@]}" |
                          awk '{ split($2, a, "_"); print a[1] }' | while read -r p; do
                            [[ $base_debs == *" $p "* ]] || echo "$p"; done)
  (cd "$carry.new/debs" && apt-get "${apt_options[@]}" -qq download "${needed[@]}")
  # llvmpipe's stills: the references.
  unpack_package "build-linux/$name.tar.gz"
  set_demo_env
  start_x 640x360
  make_stills "$carry.new/ref" "$still_size"
  rm -rf "$carry"
  mv "$carry.new" "$carry"
  say "$carry ready: $(du -sh "$carry" | cut -f1) in $(find "$carry" -type f | wc -l) files"
  exit 0
fi

if [ "$mode" = here ]; then out=${OUT:-$root/build/gpu-check-here}; else out=${OUT:-$root/build/gpu-check}; fi
mkdir -p "$out" "$work/logs" "$work/stills"
rm -f "$out/summary.txt" "$out/details.txt" "$out/stills.tar" "$out/logs.tar.gz"
start=$SECONDS
[ -n "$python" ] || fail "no Python with PIL"
details=$work/details.txt
summary=$work/summary.txt
: >"$details"
: >"$summary"
line() { printf '%s\n' "$*" >>"$summary"; }
detail() { printf '%s\n' "$*" >>"$details"; }
finish() {
  line "(check took $((SECONDS - start)) s)"
  cp "$summary" "$out/summary.txt"
  cp "$details" "$out/details.txt"
  (cd "$work/stills" && tar -cf "$out/stills.tar" .)
  (cd "$work/logs" && tar -czf "$out/logs.tar.gz" .)
  cat "$summary"
}

if [ "$mode" = gpu ]; then
  [ -d "$carry" ] || fail "$carry is missing: run scripts/gpu-check.sh --prepare where the network is"
  unpack_package "$carry/$name.tar.gz"
else
  # The dry run takes the carried set when it is there and this machine's own otherwise.
  if [ -f "$carry/$name.tar.gz" ]; then unpack_package "$carry/$name.tar.gz"; else unpack_package "build-linux/$name.tar.gz"; fi
fi
unpack_carried
[ "$mode" != gpu ] || [ -n "$sys" ] || fail "no .debs in $carry/debs"
set_demo_env
start_x "$screen"

{
  echo "machine: $(nproc) cores, $(uname -r), $(. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME"), glibc $(getconf GNU_LIBC_VERSION | cut -d' ' -f2)"
  command -v nvidia-smi >/dev/null && nvidia-smi --query-gpu=name,driver_version,memory.total --format=csv,noheader
  if [ -n "$sys" ]; then echo "carried packages: $(ls "$carry/debs" | wc -l) .debs"; else echo "carried packages: none, the machine's own"; fi
  if [ "$mode" = gpu ]; then
    echo "the driver's GL libraries:"
    find /usr/local/nvidia /usr/lib/x86_64-linux-gnu /usr/lib64 /usr/lib -maxdepth 2 -name 'lib*GL*nvidia*' 2>/dev/null
    echo "demo's environment: ${demo_env[*]}"
  fi
} >>"$details" 2>&1 || true

line "demo on $( [ "$mode" = gpu ] && echo "the GPU machine" || echo "this machine (dry run, small sizes)" ): $(date -u '+%Y-%m-%d %H:%M UTC')"
line "$(sed -n 1p "$details")"

# Which renderer the show's context gets, from a benchmark of one small frame; a software one
# ends the check at once.
probe=$work/logs/gl.txt
demo --bench --size 64x36 --frames 1 >"$probe" 2>"$probe.err" ||
  { cat "$probe.err" >&2; line "FAIL: the demo could not draw: $(grep -v '^demo: benchmark' "$probe.err" | tail -n 1)"; finish; exit 1; }
gl_vendor=$(sed -n 's/^GL vendor: //p' "$probe")
renderer=$(sed -n 's/^GL renderer: //p' "$probe")
version=$(sed -n 's/^GL version: //p' "$probe")
line "GL: $gl_vendor | $renderer | $version"
if [ "$mode" = gpu ] && grep -qiE 'llvmpipe|softpipe|swrast|software|mesa' <<<"$gl_vendor $renderer"; then
  line "FAIL: the show's context is Mesa's software renderer, not the GPU"
  say "FAIL: the show's context got $renderer ($gl_vendor), not the GPU"
  finish
  exit 1
fi

declare -A bench_fps
for size in "${bench_sizes[@]}"; do
  demo --bench --size "$size" --frames "$bench_frames" >"$work/logs/bench-$size.txt" 2>"$work/logs/bench-$size.err" ||
    { cat "$work/logs/bench-$size.err" >&2; line "FAIL: --bench --size $size failed"; finish; exit 1; }
  bench_fps[$size]=$(sed -n 's/^frames per second[^:]*: \([0-9.]*\).*/\1/p' "$work/logs/bench-$size.txt")
done

# Stills against llvmpipe's.
make_stills "$work/stills" "$still_size"
if [ "$mode" = here ]; then
  # No carried references at this size: llvmpipe's own, made by the same binary a second time.
  make_stills "$work/ref" "$still_size"
  reference=$work/ref
else
  reference=$carry/ref
fi
line ""
line "stills at $still_size against llvmpipe's: pixels off by more than 2/255, largest difference"
worst=0
for t in "${times[@]}"; do
  read -r share largest < <(compare "$work/stills/still-$t.png" "$reference/still-$t.png") ||
    { line "FAIL: still $t could not be compared"; finish; exit 1; }
  line "$(printf '  %5s s: %7s %%  largest %3d/255' "$t" "$share" "$largest")"
  [ "$largest" -le "$worst" ] || worst=$largest
done

line ""
line "--bench ($bench_frames frames): each pass's median / p99, ms (GPU timer queries)"
for size in "${bench_sizes[@]}"; do
  # Rows: the pass's name (one or two words), then median, p95, p99 of each clock.
  line "  $size: $(awk 'NF >= 7 && $(NF - 5) ~ /^[0-9.]+$/ && $1 != "pass" && $1 != "frames" {
                        n = $1; if (NF == 8) n = n $2; printf "%s %.2f/%.2f  ", n, $(NF - 5), $(NF - 3) }
                      $1 == "sum" { printf "sum %.2f", $2 }' "$work/logs/bench-$size.txt")"
  line "  $size: ${bench_fps[$size]} frames per second without glFinish brackets"
  { echo "--- demo --bench --size $size --frames $bench_frames"; cat "$work/logs/bench-$size.txt"; } >>"$details"
done

# The live show in a window, its swaps logged by the shim; SIGTERM ends it as Escape does.
shim=$carry/libframe-bench-swaps.so
[ -f "$shim" ] || shim=$root/build/bin/libframe-bench-swaps.so
line ""
if [ -f "$shim" ]; then
  swaps=$work/logs/swaps.txt
  (cd "$work/$name" && exec env "${demo_env[@]}" FRAME_BENCH_SWAP_LOG="$swaps" LD_PRELOAD="$shim" \
     ./demo --windowed --size "$live_size" --no-vsync --start 43.2) >"$work/logs/live.log" 2>&1 &
  live=$!
  sleep "$live_seconds"
  kill -TERM "$live" 2>/dev/null || true
  live_status=0
  wait "$live" || live_status=$?
  live_fps=$(awk 'NR == 1 { first = $2 } END { if (NR > 1) printf "%.1f frames per second (%d frames in %.2f s)", (NR - 1) / (($2 - first) / 1e9), NR - 1, ($2 - first) / 1e9 }' "$swaps" 2>/dev/null)
  line "live show, $live_size window, --no-vsync, from 43.2 s for $live_seconds s: ${live_fps:-no frames logged} (exit $live_status)"
else
  line "live show: no swap-logging shim (run --prepare, or build frame-bench-swaps)"
  [ "$mode" != here ] || live_fps=
fi

# A capture of the same part, and its throughput against the benchmark's.
encoder="ffmpeg"
mkdir -p "$work/bin"
if command -v ffmpeg >/dev/null 2>&1; then
  # The machine's own encoder, without the carried libraries the demo's environment names.
  printf '#!/bin/sh\nexec env -u LD_LIBRARY_PATH -u LIBGL_DRIVERS_PATH %s "$@"\n' "$(command -v ffmpeg)" >"$work/bin/ffmpeg"
  chmod +x "$work/bin/ffmpeg"
  export PATH=$work/bin:$PATH
else
  # No encoder there: a stand-in that takes the frames and writes an empty file, so the figure
  # is drawing, read-back and the pipe, without encoding.
  printf '#!/bin/sh\nfor last; do :; done\ncat >/dev/null\n: >"${last#file:}"\n' >"$work/bin/ffmpeg"
  chmod +x "$work/bin/ffmpeg"
  export PATH=$work/bin:$PATH
  encoder="a stand-in that discards the frames (no ffmpeg here)"
fi
frames=$(awk -v a="${capture[5]}" -v b="${capture[7]}" -v f="${capture[3]}" 'BEGIN { printf "%d", (b - a) * f + 0.5 }')
t0=$EPOCHREALTIME
if demo --capture "$work/capture.mp4" "${capture[@]}" >"$work/logs/capture.log" 2>&1; then
  seconds=$(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
  bench=${bench_fps[${capture[1]}]:-}
  line "capture ${capture[*]}: $frames frames in $seconds s, $(awk -v n="$frames" -v s="$seconds" -v b="$bench" 'BEGIN {
    c = n / s; printf "%.1f frames per second", c; if (b > 0) printf "; --bench %.1f; ratio %.2f", b, c / b }'); encoder: $encoder"
  [ -f "$work/capture.mp4" ] && detail "capture: $(stat -c %s "$work/capture.mp4") bytes"
else
  line "FAIL: the capture failed: $(tail -n 1 "$work/logs/capture.log")"
  finish
  exit 1
fi

# The dry run draws with the references' own renderer: its stills must come out the same, and
# the live show must have been measured.
status=0
if [ "$mode" = here ]; then
  [ "$worst" -eq 0 ] || { line "FAIL: the dry run's stills differ from its references"; status=1; }
  [ -z "${live_fps+set}" ] || [ -n "$live_fps" ] || { line "FAIL: no frames of the live show were logged"; status=1; }
fi
line ""
line "largest still difference $worst/255; figures in details.txt, stills in stills.tar, logs in logs.tar.gz"
finish
exit $status
