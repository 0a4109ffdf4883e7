#!/usr/bin/env bash
# Usage: scripts/services.sh COMMAND [ARGS...]
# Runs COMMAND with an X display (Xvfb with GLX, Mesa llvmpipe) and a PulseAudio server with a
# null sink. Whatever is already reachable through DISPLAY and PULSE_SERVER is reused; what this
# script starts, it stops again when COMMAND ends. Exits with COMMAND's status.
set -uo pipefail

started=()
cleanup() { for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done; }
trap cleanup EXIT

runtime=${DEMO_SERVICES_DIR:-/tmp/demo-services-$(id -u)}
mkdir -p "$runtime"

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  # -displayfd lets the server pick a free display number itself, so concurrent runs never race.
  exec {displayfd}<> <(:)
  Xvfb -displayfd "$displayfd" -screen 0 "${DEMO_SCREEN:-1280x1024x24}" +extension GLX -nolisten tcp -noreset \
    >"$runtime/xvfb-$$.log" 2>&1 &
  started+=($!)
  read -r -t 20 -u "$displayfd" number || { echo "services: Xvfb did not start" >&2; cat "$runtime/xvfb-$$.log" >&2; exit 1; }
  exec {displayfd}<&-
  export DISPLAY=":$number"
  xdpyinfo >/dev/null 2>&1 || { echo "services: could not start Xvfb" >&2; exit 1; }
fi

if [ -z "${PULSE_SERVER:-}" ] || ! pactl info >/dev/null 2>&1; then
  socket="$runtime/pulse-$$.socket"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
    --system=false --use-pid-file=false \
    -L "module-null-sink sink_name=demo_null rate=44100 channels=2" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$socket" \
    >"$runtime/pulse-$$.log" 2>&1 &
  started+=($!)
  export PULSE_SERVER="unix:$socket"
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl info >/dev/null 2>&1 || { echo "services: could not start PulseAudio" >&2; cat "$runtime/pulse-$$.log" >&2; exit 1; }
  pactl set-default-sink demo_null >/dev/null 2>&1 || true
fi

"$@"
