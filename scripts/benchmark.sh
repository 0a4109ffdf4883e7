#!/usr/bin/env bash
# Benchmark of the demo at 1280x720 on this machine (a benchmark, not a test: it prints
# figures and fails only when the demo cannot be run).
#
# Usage: scripts/benchmark.sh [BUILD_DIR]        (default: build, configured as the release preset)
#   BENCH_SECONDS=N   how long each measured run of the demo lasts (default 12; the whole
#                     script then takes about two minutes)
#   BENCH_FRAMES=N    frames of each `demo --bench` run (default 30)
#   BENCH_KEEP=1      keep the logs, and print where they are
#
# Steps 1 to 3 run the demo unchanged, with no arguments (it reads no environment). The script
# starts its own Xvfb with one 1280x720 screen (so the full-screen window and the picture are
# exactly 1280x720) and a PulseAudio null sink through scripts/services.sh, then measures:
#   1. the driver's own computation per frame without GL: `frame-bench cpu` runs
#      choreograph(t), sets the nine moved transforms and composes the ten world transforms
#      (Kest::Model::draw over an empty part list) for every 1/60 s of the show;
#   2. start to first frame, three runs: from the launch (bash's EPOCHREALTIME just before the
#      fork) to the return of the first glXSwapBuffers (LD_PRELOAD shim frame-bench-swaps), and
#      to the first grab of the X screen that is not all black (`frame-bench wait-picture`);
#   3. frames per second of the real demo, from the swap times of the first run, and the main
#      thread's CPU time per frame outside glXSwapBuffers (CLOCK_THREAD_CPUTIME_ID at the swaps):
#      event polling, choreography, transforms and the issuing of the GL calls, including the
#      work Mesa does on the calling thread for them (llvmpipe's vertex and geometry stages and
#      binning), but not its rasteriser threads;
#   4. the time of each pass, from the demo's own benchmark (`demo --bench`, off-screen at
#      1280x720, BENCH_FRAMES frames spread over the whole show): GL timer queries around each
#      pass, and the wall time of each pass with glFinish before and after it; then its frame
#      rate without those brackets. The same again at 1920x1080: a frame's time should grow
#      with the pixel count (2.25 times).
#   5. capture throughput: `demo --capture` of a part of the show at 1280x720 and 30 fps, its
#      frames per second (drawing, read-back and ffmpeg's encoding together) against the
#      benchmark's frame rate at the same size; read-back and encoding overlap with drawing
#      when the ratio is near 1.
# Runs end with a window close request (WM_DELETE_WINDOW to the window titled "OpenGL").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build}
seconds=${BENCH_SECONDS:-12}
bin="$root/$build/bin"
[[ "$build" = /* ]] && bin="$build/bin"

if [ -z "${FRAME_BENCH_INNER:-}" ]; then
  if [ ! -f "$(dirname "$bin")/CMakeCache.txt" ]; then
    if [ "$build" = build ]; then cmake --preset release >/dev/null
    else cmake -S "$root" -B "$(dirname "$bin")" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null; fi
  fi
  cmake --build "$(dirname "$bin")" -j 2 --target demo soundtrack frame-bench frame-bench-swaps >/dev/null

  # A private screen of exactly 1280x720 with a black root window; -displayfd picks a free number.
  log=$(mktemp)
  exec {displayfd}<> <(:)
  Xvfb -displayfd "$displayfd" -screen 0 1280x720x24 +extension GLX -nolisten tcp -noreset -br >"$log" 2>&1 &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -f "$log"' EXIT
  read -r -t 20 -u "$displayfd" number || { echo "benchmark: Xvfb did not start" >&2; cat "$log" >&2; exit 1; }
  exec {displayfd}<&-
  status=0
  DISPLAY=":$number" FRAME_BENCH_INNER=1 "$root/scripts/services.sh" "$0" "$@" || status=$?
  exit $status
fi

# ---- Measurements, with DISPLAY and PULSE_SERVER set up. ----
work=$(mktemp -d)
if [ -n "${BENCH_KEEP:-}" ]; then echo "logs and trace kept in $work"; else trap 'rm -rf "$work"' EXIT; fi

# summary DECIMALS UNIT: "median M UNIT (min A, max B; n N)" of the numbers on stdin.
summary() {
  sort -g | awk -v d="$1" -v u="$2" 'NF { v[++n] = $1 }
    END { if (n == 0) { print "n/a"; exit }
          m = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
          printf "median %.*f %s (min %.*f, max %.*f; n %d)\n", d, m, u, d, v[1], d, v[n], n }'
}

# stop PID: asks the demo's window to close and waits for the process; kills it after 30 s.
stop() {
  local pid=$1
  for _ in $(seq 60); do
    kill -0 "$pid" 2>/dev/null || break
    "$bin/frame-bench" close OpenGL 2>/dev/null || true
    sleep 0.5
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "benchmark: the demo did not close; killed" >&2
    kill "$pid"
  fi
  wait "$pid" || { echo "benchmark: the demo failed (status $?)" >&2; return 1; }
}

# launch_demo NAME ENV...: starts the demo from its folder with extra environment; sets `demo`
# to its pid and `launch` to the wall-clock time just before the fork.
launch_demo() {
  local name=$1; shift
  launch=$EPOCHREALTIME
  (cd "$bin" && exec env "$@" ./demo) >"$work/$name.out" 2>&1 &
  demo=$!
}

echo "== demo benchmark, 1280x720"
echo "machine: $(nproc) CPU cores, $(glxinfo -B 2>/dev/null | sed -n 's/^ *OpenGL renderer string: //p'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "(each run measures the show's first ${seconds} s; frame 1 of each run is left out of per-frame figures)"
echo

echo "-- driver computation per frame, no GL (frame-bench cpu)"
"$bin/frame-bench" cpu 21
echo

# Start-up and the un-instrumented frame rate: run 1 lasts $seconds, runs 2 and 3 end right
# after their first picture.
: >"$work/startup"
for run in 1 2 3; do
  "$bin/frame-bench" wait-picture 60 >"$work/picture" &
  watcher=$!
  launch_demo "run$run" FRAME_BENCH_SWAP_LOG="$work/swaps$run" LD_PRELOAD="$bin/libframe-bench-swaps.so"
  wait "$watcher" || { echo "benchmark: no picture within 60 s" >&2; cat "$work/run$run.out" >&2; stop "$demo"; exit 1; }
  if [ "$run" = 1 ]; then sleep "$seconds"; else sleep 0.5; fi
  stop "$demo"
  read -r first _ <"$work/swaps$run"
  echo "$launch $first $(cat "$work/picture")" >>"$work/startup"
done

echo "-- start to first frame (3 runs)"
echo "launch -> first buffer swap returned:   $(awk '{ print $2 / 1e9 - $1 }' "$work/startup" | summary 3 s)"
echo "launch -> first non-black screen grab:  $(awk '{ print $3 - $1 }' "$work/startup" | summary 3 s)"
echo

echo "-- real demo, no tracing (run 1: swaps logged by an LD_PRELOAD shim)"
# Columns of a swap: entry wall, return wall, entry thread CPU, return thread CPU (ns).
awk 'NR > 1 { print ($2 - previous) / 1e6 } { previous = $2 }' "$work/swaps1" >"$work/frametimes"
frames=$(awk 'END { print NR - 1 }' "$work/swaps1")
awk -v n="$frames" 'NR == 1 { first = $2 } END { if (n > 0) printf "frames per second:        %.2f (%d frames after the first, in %.1f s)\n", n / (($2 - first) / 1e9), n, ($2 - first) / 1e9 }' "$work/swaps1"
echo "frame time:               $(summary 1 ms <"$work/frametimes")"
echo "driver CPU per frame:     $(awk 'NR > 1 { print ($3 - cpu) / 1e6 } { cpu = $4 }' "$work/swaps1" | summary 2 ms)  main thread, swap return to next swap"
echo "inside glXSwapBuffers:    $(awk 'NR > 1 { print ($2 - $1) / 1e6 }' "$work/swaps1" | summary 1 ms)  wall"
echo

bench_frames=${BENCH_FRAMES:-30}
bench_fps=0
for size in 1280x720 1920x1080; do
  echo "-- time of each pass, demo --bench --size $size --frames $bench_frames"
  (cd "$bin" && ./demo --bench --size "$size" --frames "$bench_frames") >"$work/bench-$size" 2>"$work/bench-$size.err" ||
    { echo "benchmark: demo --bench failed" >&2; cat "$work/bench-$size.err" >&2; exit 1; }
  cat "$work/bench-$size"
  echo
done
fps_of() { sed -n 's/^frames per second[^:]*: \([0-9.]*\).*/\1/p' "$work/bench-$1"; }
awk -v a="$(fps_of 1280x720)" -v b="$(fps_of 1920x1080)" 'BEGIN {
  if (a > 0 && b > 0) printf "frame time 1920x1080 / 1280x720: %.2f (pixel count ratio 2.25)\n\n", a / b }'

echo "-- capture throughput, demo --capture --size 1280x720 --fps 30 --from 40 --to 44"
(cd "$bin" && ./demo --capture "$work/capture.mp4" --size 1280x720 --fps 30 --from 40 --to 44) 2>"$work/capture.err" ||
  { echo "benchmark: demo --capture failed" >&2; cat "$work/capture.err" >&2; exit 1; }
capture_fps=$(sed -n 's/.*wrote [0-9]* frames (\([0-9.]*\) frames per second).*/\1/p' "$work/capture.err")
awk -v c="$capture_fps" -v b="$(fps_of 1280x720)" 'BEGIN {
  printf "capture: %.2f frames per second; bench: %.2f; ratio %.2f (goal at least 0.9)\n", c, b, (b > 0 ? c / b : 0) }'
echo

echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
