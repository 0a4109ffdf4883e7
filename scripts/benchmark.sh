#!/usr/bin/env bash
# Benchmark of the demo at 1280x720 on this machine (a benchmark, not a test: it prints
# figures and fails only when the demo cannot be run).
#
# Usage: scripts/benchmark.sh [BUILD_DIR]        (default: build, configured as the release preset)
#   BENCH_SECONDS=N   how long each measured run of the demo lasts (default 12; the whole
#                     script then takes about two minutes)
#   BENCH_KEEP=1      keep the logs and the trace, and print where they are
#
# The demo itself is run unchanged: it takes no arguments and reads no environment. The script
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
#   4. the time of each pass, two ways:
#      a. the real demo with the LD_PRELOAD shim frame-bench-passes, which brackets every draw
#         and clear with glFinish and takes the wall time between (llvmpipe's rasterisation
#         of that call alone, serialised);
#      b. an apitrace recording of the real demo, replayed with `glretrace --benchmark` (replay
#         frames per second) and `glretrace --pgpu` (GL timer queries around every draw; a
#         pass's time is the span from its first draw's start to its last draw's end).
#      Draws of one frame, in order: 1 sky, 2-10 scene model (ground, hub, seven polytopes),
#      11-16 blur, 17 composite; the depth clear counts with the scene, the window clear with
#      the composite. The first frame of every run (shader compilation) is left out.
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
  cmake --build "$(dirname "$bin")" -j 2 --target demo soundtrack frame-bench frame-bench-swaps frame-bench-passes >/dev/null

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

# Per-frame pass times from lines "frame draw-ordinal milliseconds" on stdin.
report_passes() {
  awk '
    function pass(k) { return k == 1 ? "sky" : k <= 10 ? "scene" : k <= 16 ? "blur" : "composite" }
    { total[$1 " " pass($2)] += $3; if ($2 >= 11 && $2 <= 16) per[$1 " " $2 - 10] = $3; frames[$1] = 1 }
    END {
      for (f in frames) {
        for (p = 1; p <= 4; ++p) { split("sky scene blur composite", names); print names[p], total[f " " names[p]] }
        for (b = 1; b <= 6; ++b) print "blur" b, per[f " " b]
        print "frame", total[f " sky"] + total[f " scene"] + total[f " blur"] + total[f " composite"]
      }
    }' >"$work/pass-values"
  for key in sky scene blur blur1 blur2 blur3 blur4 blur5 blur6 composite frame; do
    case $key in
      sky) label="sky (draw 1)";; scene) label="scene model (draws 2-10)";;
      blur) label="bloom, all six blur draws";; blur?) label="  blur draw ${key#blur}";;
      composite) label="composite (draw 17)";; frame) label="all passes";;
    esac
    printf '%-28s %s\n' "$label" "$(awk -v k="$key" '$1 == k { print $2 }' "$work/pass-values" | summary 1 ms)"
  done
}

echo "-- time of each pass per frame, glFinish-bracketed (real demo, LD_PRELOAD shim frame-bench-passes)"
launch_demo passes FRAME_BENCH_PASS_LOG="$work/passes" LD_PRELOAD="$bin/libframe-bench-passes.so"
sleep "$seconds"
stop "$demo"
# Lines "frame D|C ns": number the draws of each frame; a clear goes with the next draw's pass
# (the depth clear precedes draw 2, the window clear draw 17). Frames not of 17 draws are dropped.
awk '$1 != frame { frame = $1; draw = 0 }
     $2 == "D" { ++draw; print $1, draw, $3 / 1e6 + pending; pending = 0 } $2 == "C" { pending += $3 / 1e6 }' "$work/passes" |
  awk '{ count[$1]++; line[NR] = $0; f[NR] = $1 } END { for (i = 1; i <= NR; ++i) if (f[i] > 0 && count[f[i]] == 17) print line[i] }' >"$work/pass-draws"
report_passes <"$work/pass-draws"
echo

echo "-- apitrace recording of the real demo, replayed"
(cd "$bin" && exec apitrace trace -o "$work/demo.trace" ./demo) >"$work/trace.out" 2>&1 &
demo=$!
sleep "$seconds"
stop "$demo"
echo "glretrace --benchmark:    $(glretrace --benchmark "$work/demo.trace" 2>/dev/null | grep '^Rendered' || echo 'failed')"
echo "                          (the replay's own count, start-up calls included)"
glretrace --pgpu "$work/demo.trace" >"$work/profile" 2>"$work/profile.err" || true
echo "glretrace --pgpu, GPU timer queries per draw (a pass: its first draw's start to its last draw's end):"
# Profile lines: "call NO GPU_START GPU_DURATION ... NAME"; frame_end closes a frame. Times in ns
# exceed what awk prints exactly by default, hence printf.
awk '
  $1 == "frame_end" { ++frame; draw = 0; next }
  $1 == "call" && $NF ~ /^glDraw/ { printf "%d %d %.0f %.0f\n", frame, ++draw, $3, $3 + $4 }' "$work/profile" >"$work/profile-draws"
# Read twice: first the draws per frame, then the times of the frames that have all 17.
awk '
  function pass(k) { return k == 1 ? "sky" : k <= 10 ? "scene" : k <= 16 ? "blur" : "composite" }
  NR == FNR { count[$1]++; next }
  $1 == 0 || count[$1] != 17 { next }
  { key = $1 " " pass($2)
    if (!(key in first) || $3 < first[key]) first[key] = $3
    if (!(key in last) || $4 > last[key]) last[key] = $4
    if ($2 >= 11 && $2 <= 16) print $1, $2, ($4 - $3) / 1e6, "own" }
  END { for (key in first) { split(key, k, " "); print k[1], k[2], (last[key] - first[key]) / 1e6, "span" } }' \
  "$work/profile-draws" "$work/profile-draws" >"$work/profile-values"
for key in sky scene blur 11 12 13 14 15 16 composite; do
  case $key in
    sky) label="sky (draw 1)";; scene) label="scene model (draws 2-10)";; blur) label="bloom, all six blur draws";;
    1?) label="  blur draw $((key - 10))";; composite) label="composite (draw 17)";;
  esac
  if [[ $key =~ ^1[1-6]$ ]]; then values=$(awk -v k="$key" '$2 == k && $4 == "own" { print $3 }' "$work/profile-values")
  else values=$(awk -v k="$key" '$2 == k && $4 == "span" { print $3 }' "$work/profile-values"); fi
  printf '%-28s %s\n' "$label" "$(summary 1 ms <<<"$values")"
done
echo "(llvmpipe rasterises the sky and the scene model together, when the bloom first reads the"
echo " scene: its queries put most of the scene's time under the sky. The glFinish-bracketed"
echo " figures above split the two.)"
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
