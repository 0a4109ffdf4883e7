#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer builds, the page for browsers
# (scripts/web.sh), the Linux package (in a Debian 11 root) and the Windows executable, starts
# Xvfb and PulseAudio when they are not running, and runs every test: both native builds, the
# page in headless chromium, the package in Debian 13 and 11 roots, the Windows build under
# Wine; the README's first command in fresh Debian 12 roots (bare, and with GoogleTest); and
# fuzzes the MP3 decoder for a minute and the command line for half a minute (scripts/fuzz.sh).
# Usage: scripts/test.sh [extra ctest arguments, e.g. -R Music]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh test

jobs=$(nproc)
status=0

# The front door needs none of this machine's builds, only the checkout, and spends much of its
# time unpacking packages in its roots: it runs beside the builds below, in a process group of
# its own, and is waited for before any timed test starts.
cmake --preset release >/dev/null
frontdoor_log=$root/build/front-door.log
setsid ctest --preset frontdoor "$@" >"$frontdoor_log" 2>&1 &
frontdoor=$!
trap 'kill -- -$frontdoor 2>/dev/null || true' EXIT

for preset in release sanitize; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# The same show as a page, built with emscripten (without its video, which takes minutes to draw
# here: the tests make a small one of their own).
echo "== build: web page"
web=yes; bash scripts/web.sh page || { web=no; status=1; }

# The Linux package, built in a Debian 11 root.
echo "== build: linux package"
package=yes; bash scripts/package.sh || { package=no; status=1; }

# The same source cross-compiled for Windows.
echo "== build: windows"
windows=yes; bash scripts/windows.sh || { windows=no; status=1; }

# The README's first command as a new user runs it: in fresh minimal Debian 12 roots, bare and
# with GoogleTest, with no display and no sound server.
echo "== test: front door"
wait "$frontdoor" || status=1
trap - EXIT
cat "$frontdoor_log"

# Third-party libraries (Mesa, X11, SFML) keep allocations until exit; our own code must not.
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

for preset in release sanitize; do
  echo "== test: $preset"
  scripts/services.sh ctest --preset "$preset" "$@" || status=1
done

# The page in headless chromium, the package in Debian 13 and 11 roots, Windows under Wine.
if [ $web = yes ]; then
  echo "== test: web"
  scripts/services.sh ctest --preset web "$@" || status=1
fi
if [ $package = yes ]; then
  echo "== test: package"
  scripts/services.sh ctest --preset package "$@" || status=1
fi
if [ $windows = yes ]; then
  echo "== test: wine"
  scripts/services.sh ctest --preset wine "$@" || status=1
fi

# The MP3 decoder and the command line under libFuzzer; any finding fails the run.
echo "== fuzz: music, command line"
bash scripts/fuzz.sh || status=1
exit $status
