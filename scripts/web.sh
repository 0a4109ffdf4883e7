#!/bin/bash
# The show in a browser: builds build-web/demo-web/ (index.html, demo.js, demo.wasm,
# valdrim.mp3) with Debian's emscripten and packs it as a zip.
#   scripts/web.sh          build (installing emscripten when missing) and pack
#   scripts/web.sh serve    serve build-web/demo-web on 127.0.0.1 and print the address
#   scripts/web.sh test     the page's tests in headless chromium (after a build)
#   scripts/web.sh bench    the page's frame rate and sizes against the native --bench
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
web=$root/build-web

need_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

build() {
    need_packages emscripten zip
    # The soundtrack comes from the native build's synthesizer.
    if [ ! -f build/bin/valdrim.mp3 ]; then
        cmake --preset release >/dev/null
        cmake --build --preset release --target soundtrack
    fi
    mkdir -p "$web/cache"
    # Emscripten's cache must be writable; its prebuilt system libraries are copied there once.
    if [ ! -d "$web/cache/sysroot" ]; then
        cp -r /usr/share/emscripten/cache/. "$web/cache/"
    fi
    export EM_CACHE=$web/cache
    export NODE_PATH=/usr/share/nodejs
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
test) exec node "$root/tests/web/page_test.mjs" "$web/demo-web" ;;
bench) exec node "$root/tests/web/page_bench.mjs" "$web/demo-web" ;;
*) echo "usage: scripts/web.sh [build|serve|test|bench]" >&2; exit 2 ;;
esac
