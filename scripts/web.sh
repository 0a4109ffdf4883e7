#!/bin/bash
# The show in a browser: builds build-web/demo-web/ (index.html with its scripts and styles,
# demo.js, demo.wasm, valdrim.mp3, the control bar's media-chrome.js, the poster and icon) with
# Debian's emscripten and packs it as a zip.
#   scripts/web.sh          build (installing emscripten when missing) and pack
#   scripts/web.sh serve    serve build-web/demo-web on 127.0.0.1 and print the address
#   scripts/web.sh test     the page's tests in headless chromium (after a build)
#   scripts/web.sh bench    the page's frame rate, render scale and lag behind the music (Mesa and
#                           SwiftShader, 1280x720 and a phone's size), its sizes, and the native --bench
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
web=$root/build-web

source "$root/scripts/packages.sh"

# Debian's emscripten builds offline from its prebuilt system libraries (never its ports, which
# download); chromium and puppeteer-core (npm, locked in tests/web) run the page's tests.
need_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] || install_packages web "${missing[@]}"
}

build() {
    need_packages emscripten chromium zip
    command -v npm >/dev/null || need_packages nodejs npm
    if [ ! -d tests/web/node_modules/puppeteer-core ]; then
        (cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
    fi
    # The page's control bar (media-chrome), locked in demo/web and shipped by the build.
    if [ ! -f demo/web/node_modules/media-chrome/dist/iife/index.js ]; then
        (cd demo/web && npm ci --no-audit --no-fund --loglevel=error)
    fi
    # The soundtrack comes from the native build's synthesizer.
    if [ ! -f build/bin/valdrim.mp3 ]; then
        # A build folder of its own is kept as it is; a new one leaves out the tests, whose
        # tools this machine may lack.
        [ -f build/CMakeCache.txt ] || cmake --preset release -DDEMO_BUILD_TESTS=OFF >/dev/null
        cmake --build --preset release --target soundtrack
    fi
    mkdir -p "$web/cache"
    # Emscripten's cache must be writable; its prebuilt system libraries are copied there once.
    if [ ! -d "$web/cache/sysroot" ]; then
        cp -r /usr/share/emscripten/cache/. "$web/cache/"
    fi
    export EM_CACHE=$web/cache
    # Debian's emscripten runs its tools on node with the modules of Debian's packages; node's
    # own fetch confuses its loader.
    export NODE_PATH=/usr/share/nodejs
    export NODE_OPTIONS=--no-experimental-fetch
    emcmake cmake -S . -B "$web" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DDEMO_SOUNDTRACK="$root/build/bin/valdrim.mp3" >/dev/null
    cmake --build "$web" -j2 --target demo-web
    (cd "$web" && cpack -G ZIP -C Release >/dev/null && ls -1 "$web"/demo-web.zip)
}

serve() {
    local port=${WEB_PORT:-8086}
    echo "http://127.0.0.1:$port/"
    exec python3 -m http.server --bind 127.0.0.1 --directory "$web/demo-web" "$port"
}

case "${1:-build}" in
build) build ;;
serve) serve ;;
test) exec "$root/scripts/services.sh" ctest --preset web ;;
bench) exec "$root/scripts/services.sh" node "$root/tests/web/page_bench.mjs" "$web/demo-web" "$root/build/bin/demo" "${BENCH_SECONDS:-20}" ;;
*) echo "usage: scripts/web.sh [build|serve|test|bench]" >&2; exit 2 ;;
esac
