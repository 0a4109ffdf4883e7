#!/usr/bin/env bash
# Usage: scripts/run.sh [DEMO OPTIONS...]
# Installs what building and running need, when missing (scripts/setup.sh), builds only the demo
# and its soundtrack (never the tests, whatever else the machine has) and runs it from its own
# folder, where the soundtrack lies, with the options given. With a display it plays the live show.
# Without one there is nothing to watch it on, so it renders the show to build/show.mp4 instead
# (1280x720, 30 fps, with sound, unless the options say otherwise: `--size 640x360 --to 5`), on a
# virtual screen that only provides the OpenGL context, through the fastest software OpenGL that
# draws the same pictures.
set -euo pipefail
caller=$PWD
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
# The tests' tools come only with `scripts/setup.sh test`, so the tests stay out of this build;
# `cmake --preset release` (as scripts/test.sh runs it) brings them back.
cmake --preset release -DDEMO_BUILD_TESTS=OFF >/dev/null
cmake --build --preset release -j "$(nproc)" --target demo soundtrack
cd build/bin
if [ -n "${DISPLAY:-}" ]; then
  exec ./demo "$@"
fi

options=("$@")
# given OPTION: whether the options name it (as `--opt VALUE` or `--opt=VALUE`).
given() { local a; for a in "${options[@]}"; do [ "${a%%=*}" = "$1" ] && return 0; done; return 1; }
# A file the caller names is where the caller is, not in build/bin where the demo runs.
here() { case $1 in /*) echo "$1" ;; *) echo "$caller/$1" ;; esac; }
output=$root/build/show.mp4
for ((i = 0; i < ${#options[@]}; i++)); do
  case ${options[i]} in
    --capture) [ $((i + 1)) -lt ${#options[@]} ] && output=$(here "${options[i + 1]}") && options[i + 1]=$output ;;
    --capture=*) output=$(here "${options[i]#*=}") && options[i]=--capture=$output ;;
  esac
done
defaults=()
given --capture || defaults+=(--capture "$output")
given --size || defaults+=(--size 1280x720)
given --fps || defaults+=(--fps 30)
echo "run: no display here, so the show is captured to $output"
# Where the OpenGL is Mesa's software renderer, its fastest path that draws the same pictures.
"$root/scripts/services.sh" bash -c 'exec env $("$1/scripts/fastest-gl.sh" ./demo) ./demo "${@:2}"' \
  run "$root" "${defaults[@]}" "${options[@]}"
echo "run: the show is in $output; play it with any video player, for example: ffplay $output"
