#!/bin/bash
# The show in a browser: builds build-web/demo-web/ (index.html with its scripts and styles,
# demo.js, demo.wasm, valdrim.mp3, the control bar's media-chrome.js, the poster, the icons, the
# web app manifest, the service worker and the video show.mp4) with Debian's emscripten and packs
# it as a zip.
#   scripts/web.sh          the page and its video, and the zip (the release)
#   scripts/web.sh page     the page alone, without the video (what the page's tests need: they
#                           make a small video of their own)
#   scripts/web.sh video    only the video, into build-web/video/ (kept there, keyed by its inputs)
#   scripts/web.sh serve    serve build-web/demo-web on 127.0.0.1 (gzip, byte ranges) and print the address
#   scripts/web.sh test     the page's tests in headless chromium (after a build)
#   scripts/web.sh bench    the page's frame rate, render scale, way chosen and lag behind the music
#                           (Mesa and SwiftShader, 1280x720 and a phone), its sizes and slow-network
#                           start, the video's PSNR, and the native --bench
# The address the page will be served from (its link previews name it absolutely) comes from
# DEMO_WEB_ADDRESS (default http://127.0.0.1:8086/, where `serve` serves it). The video is drawn on
# the machines of the hosts file DEMO_WEB_FARM (scripts/capture-farm.sh) when it is set.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
web=$root/build-web
address=${DEMO_WEB_ADDRESS:-http://127.0.0.1:8086/}

source "$root/scripts/packages.sh"

# Debian's emscripten builds offline from its prebuilt system libraries (never its ports, which
# download); chromium and puppeteer-core (npm, locked in tests/web) run the page's tests.
need_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] || install_packages web "${missing[@]}"
}

# The native release build's demo and soundtrack: the video's capture, the page's music.
native() {
    if [ ! -x build/bin/demo ] || [ ! -f build/bin/valdrim.mp3 ] || [ "${1:-}" = fresh ]; then
        # A build folder of its own is kept as it is; a new one leaves out the tests, whose
        # tools this machine may lack.
        [ -f build/CMakeCache.txt ] || cmake --preset release -DDEMO_BUILD_TESTS=OFF >/dev/null
        cmake --build --preset release -j2 --target demo soundtrack
    fi
}

# What decides the video's pictures and sound: the show's, the engine's, the capture's sources,
# the soundtrack, and the video's own settings below.
video_settings="1280x720 30 crf23-slow"
video_key() {
    { find demo/show demo/player engine assets shaders -type f -print0 | sort -z | xargs -0 sha256sum
      sha256sum build/bin/valdrim.mp3
      echo "$video_settings"; } | sha256sum | cut -c1-16
}

# The video, made once for each key: the show's exact capture (1280x720, 30 fps, H.264 at CRF 16
# with the soundtrack in AAC), then encoded again for the web at CRF 23, its sound copied and its
# index at the front so that playing starts before it has all arrived. About 9 minutes here
# (2 cores, no GPU, through zink); the capture alone is kept as capture-KEY.mp4.
video() {
    native fresh
    local key folder capture out
    key=$(video_key)
    folder=$web/video
    capture=$folder/capture-$key.mp4
    out=$folder/show-$key.mp4
    mkdir -p "$folder"
    if [ ! -f "$out" ]; then
        if [ ! -f "$capture" ]; then
            echo "web: capturing the video (1280x720, 30 fps) into $capture"
            if [ -n "${DEMO_WEB_FARM:-}" ]; then
                scripts/capture-farm.sh "$capture" --size 1280x720 --fps 30 --overwrite --hosts "$DEMO_WEB_FARM"
            else
                scripts/services.sh bash -c 'env $(scripts/fastest-gl.sh build/bin/demo) build/bin/demo --capture "$1" --size 1280x720 --fps 30 --overwrite' \
                    capture "$capture.partial.mp4"
                mv "$capture.partial.mp4" "$capture"
            fi
        fi
        ffmpeg -hide_banner -loglevel error -y -i "$capture" -map 0 -c:v libx264 -preset slow -crf 23 -pix_fmt yuv420p \
            -c:a copy -movflags +faststart -fflags +bitexact -flags:v +bitexact "$out.partial.mp4"
        mv "$out.partial.mp4" "$out"
    fi
    # Only the latest is kept.
    find "$folder" -maxdepth 1 -name '*.mp4' ! -name "*-$key.mp4" -delete
    echo "$out"
}

build() {
    local with_video=$1
    need_packages emscripten chromium zip imagemagick librsvg2-bin
    command -v npm >/dev/null || need_packages nodejs npm
    if [ ! -d tests/web/node_modules/puppeteer-core ]; then
        (cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
    fi
    # The page's control bar (media-chrome), locked in demo/web and shipped by the build.
    if [ ! -f demo/web/node_modules/media-chrome/dist/iife/index.js ]; then
        (cd demo/web && npm ci --no-audit --no-fund --loglevel=error)
    fi
    # The soundtrack comes from the native build's synthesizer.
    native
    local show_video=""
    [ "$with_video" = yes ] && show_video=$(video | tail -n 1)
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
        -DDEMO_SOUNDTRACK="$root/build/bin/valdrim.mp3" -DDEMO_WEB_VIDEO="$show_video" \
        -DDEMO_WEB_ADDRESS="$address" >/dev/null
    cmake --build "$web" -j2 --target demo-web-page
    rm -f "$web"/demo-web.zip
    (cd "$web" && cpack -G ZIP -C Release >/dev/null && ls -1 "$web"/demo-web.zip)
}

# Served as a static web server serves it (gzip, byte ranges for the video), by the page tests'
# own server.
serve() {
    local port=${WEB_PORT:-8086}
    exec node --input-type=module -e "
        const { serve } = await import('$root/tests/web/harness.mjs');
        const server = await serve('$web/demo-web', { ownVideo: true, port: $port });
        console.log(server.url);"
}

case "${1:-build}" in
build) build yes ;;
page) build no ;;
video) native && video ;;
serve) serve ;;
test) exec "$root/scripts/services.sh" ctest --preset web ;;
bench) exec "$root/scripts/services.sh" node "$root/tests/web/page_bench.mjs" "$web/demo-web" "$root/build/bin/demo" "${BENCH_SECONDS:-20}" ;;
*) echo "usage: scripts/web.sh [build|page|video|serve|test|bench]" >&2; exit 2 ;;
esac
