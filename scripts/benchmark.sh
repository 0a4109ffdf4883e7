#!/usr/bin/env bash
# Benchmark of the demo at 1280x720 on this machine (a benchmark, not a test: it prints
# figures and fails only when the demo cannot be run).
#
# Usage: scripts/benchmark.sh [BUILD_DIR]        (default: build, configured as the release preset)
#   BENCH_SECONDS=N   how long each measured run of the demo lasts (default 12; the whole
#                     script then takes about two minutes)
#   BENCH_FRAMES=N    frames of each `demo --bench` run (default 30)
#   BENCH_CAPTURE_RUNS=N  rounds of step 5 on each path (default 3)
#   BENCH_CAPTURE_SECONDS=N  the length of step 5's captures, from 40 s (default 2: 60 frames)
#   BENCH_KEEP=1      keep the logs, and print where they are
#   BENCH_SYNC_RUNS=N runs of each sound-on-picture case (default 3)
#   BENCH_SYNC_DEMO=PATH  the demo binary that step 6 measures (default the build's own; another
#                     build's binary, run from the build's bin folder beside its valdrim.mp3,
#                     gives its figures to compare)
#   BENCH_ONLY_SYNC=1 step 6 alone
#   BENCH_ONLY_CAPTURE=1  step 5 alone
#   BENCH_SYNC_CASES="ACTION-SIZE ..."  only these cases of step 6 (none-320x180, none-1280x720,
#                     seek-320x180, pauses-320x180, stall-320x180)
#
# Steps 1 to 3 run the demo unchanged, with no arguments (it reads no environment). The script
# starts its own Xvfb with one 1280x720 screen (so the full-screen window and the picture are
# exactly 1280x720) and a PulseAudio null sink through scripts/services.sh, then measures:
#   1. the driver's own computation per frame without GL: `frame-bench cpu` runs
#      choreograph(t), sets the nine moved transforms and composes the ten world transforms
#      (Kest::Model::draw over an empty part list) for every 1/60 s of the show;
#   2. start to first frame, three runs: from the launch (bash's EPOCHREALTIME just before the
#      fork) to the return of the first glXSwapBuffers (LD_PRELOAD shim frame-bench-swaps), and
#      to the first grab of the X screen that is not all black (`frame-bench wait-picture`,
#      which grabs the screen only when the X server reports a change, through the DAMAGE
#      extension, so that it takes no CPU time from the start it measures);
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
#   5. the capture against the benchmark, side by side, BENCH_CAPTURE_RUNS rounds on each
#      software path (llvmpipe, and zink over lavapipe where lavapipe is installed; on another
#      renderer, that one): in each round `demo --bench` over the capture's part of the show,
#      then `demo --capture` of it at 1280x720 and 30 fps with a stand-in encoder that only
#      takes the frames, then with ffmpeg. Printed: the frame rates, capture over bench round by
#      round (over the whole capture, and once running: from its first frame handed to ffmpeg
#      to its last, without the driver's first draw and ffmpeg's finishing the file, one-off
#      costs that 60 frames feel and the whole show does not), and what a capture spends per
#      frame beside drawing: the conversion to Y'CbCr
#      4:2:0 and the read-back (GPU timer queries of --bench), the time the capture's main
#      thread waited for a frame to be drawn and read back and the time it spent writing it to
#      the pipe (its own figures), and ffmpeg's CPU time (user and system, from a wrapper).
#   6. the sound on the picture: one ffmpeg records the middle 320x180 of the screen (x11grab,
#      200 grabs a second) and the sink's monitor, with -copyts so that frames and samples keep
#      the wall clock they were stamped with, while a silent stream keeps the sink playing (its
#      monitor then delivers from the start, at a steady latency). First the recording itself
#      is calibrated: `sync-probe reference` flips that rectangle between black and white at
#      the instant PulseAudio says a burst it was given is played; seen minus heard of those
#      flips is the recording's own offset. Then the show: the cut from shot 6 to shot 7 at
#      48.0 s falls on the drop's crash; the crash is found in the recording by matching the
#      track as the show's decoder delivers it (47.6 to 48.4 s) and taking the strongest onset
#      in it, the cut as the first grab nearer to a still of shot 7 than to any of shot 6 (stills
#      from 44 s to 50 s). The figure is the cut seen minus the moment the track's own 48.0 s
#      was heard (the crash heard, less the 52 ms by which the crash follows 48.0 s in the
#      track as the show decodes it: the encoder's delay and the crash's attack), less the
#      calibration, in ms: positive when the picture is late (the sound early). Figures before
#      that correction were 52 ms lower. Cases: a 320x180 window, a
#      1280x720 window (the whole screen), after a backward seek of 35 s (from 80.5 s, Left
#      seven times), after five pauses (Space, ten times), and after a 3 s stall of the output
#      ending half a second before the cut (from 44 s: the show's stream moved onto a suspended
#      null sink and back, so that the recorded sink plays on).
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
  cmake --build "$(dirname "$bin")" -j 2 --target demo soundtrack frame-bench frame-bench-swaps sync-probe >/dev/null

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

# ---- Step 6, the sound on the picture. ----
grab_x=480 grab_y=270 grab_w=320 grab_h=180
recorder=
# record_start NAME: the screen's middle and the sink's monitor, into $work/NAME.nut.
record_start() {
  ffmpeg -nostdin -hide_banner -loglevel error -y -copyts \
    -thread_queue_size 4096 -f x11grab -draw_mouse 0 -framerate 200 -video_size "${grab_w}x$grab_h" \
    -i "$DISPLAY+$grab_x,$grab_y" \
    -thread_queue_size 4096 -f pulse -sample_rate 44100 -channels 2 -fragment_size 1764 -i "$monitor" \
    -map 0:v -c:v rawvideo -pix_fmt gray -fps_mode passthrough -enc_time_base:v 1:1000000 \
    -map 1:a -c:a pcm_s16le -f nut "$work/$1.nut" 2>"$work/$1.ffmpeg" &
  recorder=$!
  # The recorder is running once its file has grown past the header.
  for _ in $(seq 100); do [ "$(stat -c %s "$work/$1.nut" 2>/dev/null || echo 0)" -gt 100000 ] && break; sleep 0.05; done
}
# record_stop NAME: ends the recording and lays it out for sync-probe in $work/NAME/.
record_stop() {
  kill -INT "$recorder" 2>/dev/null || true
  wait "$recorder" 2>/dev/null || true
  mkdir -p "$work/$1"
  ffprobe -v error -show_entries packet=stream_index,pts_time,size -of csv=p=0 "$work/$1.nut" >"$work/$1/packets.csv" &&
    ffmpeg -nostdin -v error -y -i "$work/$1.nut" -map 0:v -f rawvideo -fps_mode passthrough "$work/$1/video.gray" \
      -map 0:a -f s16le "$work/$1/audio.raw" || echo "benchmark: the recording $1 could not be read" >&2
  rm -f "$work/$1.nut"
}

# stall_output SECONDS: the demo's stream, moved onto the suspended sink bench_stall, takes no
# samples for that long, then goes back to the default sink.
stall_output() {
  local input
  input=$(pactl list sink-inputs | awk '/^Sink Input #/ { id = substr($3, 2) } /application.process.binary = "demo"/ { print id }' | head -1)
  [ -n "$input" ] || { echo "benchmark: the demo's stream was not found" >&2; return 0; }
  pactl move-sink-input "$input" bench_stall
  sleep "$1"
  pactl move-sink-input "$input" "$(pactl get-default-sink)"
}

# sync_run NAME SIZE START ACTION WAIT: one measure of the show, in ms, on stdout (nothing when
# it could not be measured).
sync_run() {
  local name=$1 size=$2 start=$3 action=$4 wait=$5 demo_binary=${BENCH_SYNC_DEMO:-$bin/demo}
  record_start "$name"
  (cd "$bin" && exec "$demo_binary" --windowed --size "$size" --start "$start") >"$work/$name.out" 2>&1 &
  local show=$!
  if "$bin/frame-bench" wait-picture 60 >/dev/null && "$bin/sync-probe" centre demo; then
    case $action in
      seek) sleep 0.5; "$bin/sync-probe" keys demo 0.04 Left Left Left Left Left Left Left ;;
      pauses) sleep 0.3; "$bin/sync-probe" keys demo 0.2 space space space space space space space space space space ;;
      stall) sleep 0.4; stall_output 3 ;;
    esac
    sleep "$wait"
  fi
  kill "$show" 2>/dev/null; wait "$show" 2>/dev/null || true
  record_stop "$name"
  "$bin/sync-probe" show "$work/$name" "$grab_w" "$grab_h" "$bin/valdrim.mp3" 48.0 \
    "$work/stills-$size" 2>>"$work/$name.out" || true
  [ -n "${BENCH_KEEP:-}" ] || rm -rf "$work/$name"
}

sync_figures() {
  local runs=${BENCH_SYNC_RUNS:-3}
  monitor="$(pactl get-default-sink).monitor"
  pacat --raw --format=s16le --rate=44100 --channels=2 --latency-msec=10 </dev/zero &
  local silence=$!
  # Where a stalled stream waits: a sink that takes no samples.
  local stall_sink
  stall_sink=$(pactl load-module module-null-sink sink_name=bench_stall rate=44100 channels=2)
  pactl suspend-sink bench_stall 1
  echo "-- the sound on the picture: the cut at 48.0 s seen minus the track's 48.0 s heard (${BENCH_SYNC_DEMO:-$bin/demo})"
  record_start reference
  "$bin/sync-probe" reference 8 "$grab_x" "$grab_y" "$grab_w" "$grab_h" || true
  record_stop reference
  local calibration
  calibration=$("$bin/sync-probe" calibrate "$work/reference" "$grab_w" "$grab_h" | tee "$work/calibration" | summary 1 ms) || true
  echo "calibration, flip seen minus burst heard: $calibration"
  local c
  c=$(sort -g "$work/calibration" | awk '{ v[++n] = $1 } END { if (n) print (n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2); else print "nan" }')
  if [ "$c" = nan ]; then
    echo "benchmark: the recording could not be calibrated; no sound-on-picture figures" >&2
  else
    local what label size start action wait run figures t
    # What the grabbed middle of each window shows before and after the cut.
    for size in 320x180 1280x720; do
      mkdir -p "$work/stills-$size"
      for t in $(seq -f %.2f 44 0.4 47.6) 47.90 $(seq -f %.2f 48 0.4 50); do
        (cd "$bin" && ./demo --still "$t" "$work/still.png" --size "$size") &&
          ffmpeg -nostdin -v error -y -i "$work/still.png" \
            -vf "crop=$grab_w:$grab_h:(iw-$grab_w)/2:(ih-$grab_h)/2,format=gray" -f rawvideo "$work/stills-$size/$t.gray"
      done
    done
    for what in "320x180 window:320x180:46.5:none:3" "1280x720 window:1280x720:46:none:6" \
                "after a seek back of 35 s:320x180:80.5:seek:4" "after five pauses:320x180:44:pauses:4.5" \
                "after a 3 s stall:320x180:44:stall:5"; do
      IFS=: read -r label size start action wait <<<"$what"
      [[ -z "${BENCH_SYNC_CASES:-}" || " $BENCH_SYNC_CASES " = *" $action-$size "* ]] || continue
      figures=$(for run in $(seq "$runs"); do sync_run "sync-$action-$size-$run" "$size" "$start" "$action" "$wait"; done |
                awk -v c="$c" '{ printf "%.1f\n", $1 - c }')
      printf '%-27s %s   runs: %s\n' "$label:" "$(summary 1 ms <<<"$figures")" "$(echo $figures)"
    done
  fi
  kill "$silence" 2>/dev/null; wait "$silence" 2>/dev/null || true
  pactl unload-module "$stall_sink" 2>/dev/null || true
  echo
}

# Step 5: the capture against the benchmark, side by side, on each software path.
capture_figures() {
  capture_seconds=${BENCH_CAPTURE_SECONDS:-2}
  capture_runs=${BENCH_CAPTURE_RUNS:-3}
  capture_from=40
  capture_to=$(awk -v a="$capture_from" -v s="$capture_seconds" 'BEGIN { print a + s }')
  capture_frames=$(awk -v s="$capture_seconds" 'BEGIN { printf "%d", s * 30 + 0.5 }')
  mkdir -p "$work/encoders/ffmpeg" "$work/encoders/none"
  mkdir -p -m 700 "$work/runtime"
  # ffmpeg itself, its CPU time (user and system, from bash's `times`) noted in $FFMPEG_CPU_LOG.
  printf '#!/usr/bin/env bash\n%q "$@"\nstatus=$?\ntimes >"$FFMPEG_CPU_LOG"\nexit $status\n' "$(command -v ffmpeg)" \
    >"$work/encoders/ffmpeg/ffmpeg"
  # A stand-in that takes the frames and writes an empty file: drawing, conversion, read-back and
  # the pipe without encoding.
  printf '#!/bin/sh\nfor last; do :; done\ncat >/dev/null\n: >"${last#file:}"\n' >"$work/encoders/none/ffmpeg"
  chmod +x "$work/encoders/ffmpeg/ffmpeg" "$work/encoders/none/ffmpeg"

  # capture_path NAME ENV...: BENCH_CAPTURE_RUNS rounds of `demo --bench` over the capture's part
  # of the show, the capture with ffmpeg, with no encoder, and with ffmpeg and the conversion on
  # the other side (CPU or GPU), one after the other; one line of figures per round into
  # $work/NAME.rounds:
  #   bench_fps no_encoder_fps capture_fps conversion_ms read_back_ms wait_ms conversion_cpu_ms
  #   pipe_ms ffmpeg_cpu_ms other_side_fps running_fps
  capture_path() {
    local name=$1 round out encoder side other
    shift
    side=$( (cd "$bin" && env "$@" ./demo --bench --frames 1 --size 16x10 2>/dev/null) | sed -n "s/^conversion to Y'CbCr 4:2:0: on the \([A-Z]*\).*/\1/p")
    other=$([ "$side" = CPU ] && echo gpu || echo cpu)
    : >"$work/$name.rounds"
    for round in $(seq "$capture_runs"); do
      out=$work/$name-$round
      (cd "$bin" && env "$@" ./demo --bench --size 1280x720 --frames "$bench_frames" --from "$capture_from" \
        --to "$capture_to") >"$out.bench" 2>"$out.bench.err" || { cat "$out.bench.err" >&2; return 1; }
      # ffmpeg's right after the benchmark, whose plain frame rate it is held to.
      for encoder in ffmpeg none; do
        (cd "$bin" && env "$@" PATH="$work/encoders/$encoder:$PATH" FFMPEG_CPU_LOG="$out.cpu" ./demo --capture \
          "$work/capture.mp4" --size 1280x720 --fps 30 --from "$capture_from" --to "$capture_to") 2>"$out.$encoder" ||
          { cat "$out.$encoder" >&2; return 1; }
      done
      (cd "$bin" && env "$@" ./demo --capture "$work/capture.mp4" --size 1280x720 --fps 30 --from "$capture_from" \
        --to "$capture_to" --convert-on "$other") 2>"$out.other" || { cat "$out.other" >&2; return 1; }
      # bash's `times`: the shell's line, then its children's ("0m1.234s 0m0.056s").
      awk -v n="$capture_frames" -v side="$side" '
        function seconds(t) { sub(/s$/, "", t); split(t, p, "m"); return p[1] * 60 + p[2] }
        FILENAME ~ /bench$/ && /^frames per second/ { sub(/.*: /, ""); bench = $1 }
        FILENAME ~ /bench$/ && $1 == "conversion" { conversion = side == "CPU" ? $5 : $2 }
        FILENAME ~ /bench$/ && $1 == "read-back" { readback = $2 }
        # "demo: per frame: T ms in all, W ms waiting ..., C ms converting it, P ms handing it to ffmpeg"
        /^demo: per frame/ {
          kind = FILENAME ~ /none$/ ? "none" : FILENAME ~ /other$/ ? "other" : "ffmpeg"
          for (i = 1; i < NF - 1; i++) if ($(i + 1) == "ms") {
            if ($(i + 2) == "in") fps[kind] = sprintf("%.2f", 1000 / $i)
            if (kind != "ffmpeg") continue
            if ($(i + 2) == "waiting") wait = $i; else if ($(i + 2) == "converting") converting = $i; else if ($(i + 2) == "handing") pipe = $i } }
        # "demo: once running: T ms a frame, ..."
        FILENAME ~ /ffmpeg$/ && /^demo: once running/ { running = sprintf("%.2f", 1000 / $4) }
        FILENAME ~ /cpu$/ { cpu = (seconds($1) + seconds($2)) * 1000 / n }
        END { printf "%s %s %s %s %s %s %s %s %.1f %s %s\n", bench, fps["none"], fps["ffmpeg"], conversion, readback, wait,
                converting, pipe, cpu, fps["other"], running }' \
        "$out.bench" "$out.none" "$out.ffmpeg" "$out.cpu" "$out.other" >>"$work/$name.rounds"
    done
  }

  # column N DECIMALS UNIT FILE: the summary of column N of a rounds file.
  column() { awk -v c="$1" '{ print $c }' "$4" | summary "$2" "$3"; }
  renderer_of() { sed -n 's/^GL renderer: //p' "$1"; }

  echo "-- the capture against the benchmark, 1280x720, $capture_from to $capture_to s ($capture_frames frames at 30 fps), $capture_runs rounds"
  # Where the OpenGL is Mesa's llvmpipe, its other exact path beside it: zink over lavapipe, which
  # scripts/run.sh's capture takes when its still matches llvmpipe's.
  paths=(native)
  path_env_native=()
  if [[ $( (cd "$bin" && ./demo --bench --frames 1 --size 16x9 2>/dev/null) | sed -n 's/^GL renderer: //p') == llvmpipe* ]]; then
    paths=(llvmpipe)
    path_env_llvmpipe=(LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe)
    if ls /usr/share/vulkan/icd.d/lvp_icd*.json >/dev/null 2>&1; then
      paths+=(zink)
      path_env_zink=(LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=zink XDG_RUNTIME_DIR="$work/runtime")
    fi
  fi
  for path in "${paths[@]}"; do
    declare -n path_env="path_env_$path"
    capture_path "$path" "${path_env[@]}" || { echo "benchmark: the capture failed on $path" >&2; exit 1; }
    rounds=$work/$path.rounds
    echo "$path: $(renderer_of "$work/$path-1.bench"); $(sed -n "s/^conversion to Y'CbCr 4:2:0: //p" "$work/$path-1.bench")"
    echo "  bench, no read-back:           $(column 1 2 fps "$rounds")"
    echo "  capture, no encoder:           $(column 2 2 fps "$rounds")"
    echo "  capture with ffmpeg:           $(column 3 2 fps "$rounds")"
    echo "  capture / bench, each round:   $(awk '$1 > 0 { printf "%.3f\n", $3 / $1 }' "$rounds" | summary 3 '')  (goal: at least 0.95)"
    echo "    once running:                $(awk '$1 > 0 { printf "%.3f\n", $11 / $1 }' "$rounds" | summary 3 '')  the capture from its first frame handed to ffmpeg to its last"
    echo "  converting on the other side:  $(column 10 2 fps "$rounds")  capture with ffmpeg"
    echo "  per frame, conversion:         $(column 4 2 ms "$rounds")  --bench: GPU timer query on the GPU, wall time on the CPU"
    echo "             read-back:          $(column 5 2 ms "$rounds")  --bench: GPU timer query"
    echo "             waited for:         $(column 6 1 ms "$rounds")  capture's main thread, for the frame drawn and read back"
    echo "             conversion:         $(column 7 2 ms "$rounds")  capture's main thread, on the CPU"
    echo "             the pipe:           $(column 8 2 ms "$rounds")  capture's main thread, writing to ffmpeg"
    echo "             ffmpeg's CPU:       $(column 9 1 ms "$rounds")  user and system time, encoding with the sound"
  done
  echo
}

bench_frames=${BENCH_FRAMES:-30}
if [ -n "${BENCH_ONLY_SYNC:-}" ]; then
  sync_figures
  exit 0
fi
if [ -n "${BENCH_ONLY_CAPTURE:-}" ]; then
  capture_figures
  exit 0
fi

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
  read -r _ first _ <"$work/swaps$run" # the first swap's return
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

capture_figures
sync_figures

echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
