#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer builds, starts Xvfb and
# PulseAudio when they are not running, and runs every test in both builds; then builds the
# page for browsers (scripts/web.sh) and tests it in headless chromium, builds the Linux
# package and runs it in Debian 13 and 11 roots, runs the README's first command in fresh
# Debian 12 roots (bare, and with GoogleTest), builds the Windows executable and runs its
# tests under Wine, and fuzzes the MP3 decoder for a minute and the command line for half a
# minute (scripts/fuzz.sh).
# Usage: scripts/test.sh [extra ctest arguments, e.g. -R Music]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh test

jobs=$(nproc)
for preset in release sanitize; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# Third-party libraries (Mesa, X11, SFML) keep allocations until exit; our own code must not.
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

status=0
for preset in release sanitize; do
  echo "== test: $preset"
  scripts/services.sh ctest --preset "$preset" "$@" || status=1
done

# The same show as a page, built with emscripten and run in headless chromium (without its
# video, which takes minutes to draw here: the tests make a small one of their own).
echo "== build: web page"
if bash scripts/web.sh page; then
  echo "== test: web"
  scripts/services.sh ctest --preset web "$@" || status=1
else
  status=1
fi

# The Linux package, built in a Debian 11 root and run in Debian 13 and 11 roots.
echo "== build: linux package"
if bash scripts/package.sh; then
  echo "== test: package"
  scripts/services.sh ctest --preset package "$@" || status=1
else
  status=1
fi

# The README's first command as a new user runs it: in fresh minimal Debian 12 roots, bare and
# with GoogleTest, with no display and no sound server.
echo "== test: front door"
ctest --preset frontdoor "$@" || status=1

# The same source cross-compiled for Windows, run under Wine.
echo "== build: windows"
if bash scripts/windows.sh; then
  echo "== test: wine"
  scripts/services.sh ctest --preset wine "$@" || status=1
else
  status=1
fi

# The MP3 decoder and the command line under libFuzzer; any finding fails the run.
echo "== fuzz: music, command line"
bash scripts/fuzz.sh || status=1
exit $status
