#!/usr/bin/env bash
# Builds the Windows package on Debian: build-windows/bin/demo.exe, cross-compiled from the same
# source with mingw-w64 and linked statically, and build-windows/demo-windows.zip (demo.exe, its
# soundtrack and a short read-me). Installs the cross toolchain and Wine when missing; builds
# SFML (window, system) and GLEW from Debian's own source packages once and keeps them under
# build-windows/deps. Idempotent: with everything in place it only checks and relinks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh test

source scripts/packages.sh
seconds() { date +%s.%N; }
took() { awk -v a="$1" -v b="$(seconds)" 'BEGIN { printf "%.1f s", b - a }'; }

# Wine runs the tests; the toolchain with the posix thread model has std::thread.
packages=(g++-mingw-w64-x86-64-posix wine64 wine fonts-wine dpkg-dev libglm-dev libcli11-dev libstb-dev)
mapfile -t missing < <(missing_packages "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  t=$(seconds)
  install_packages windows "${missing[@]}"
  echo "windows: toolchain and Wine installed in $(took "$t")"
fi

out=$root/build-windows
deps=$out/deps
prefix=$deps/prefix
stage=$deps/stage
jobs=$(nproc)
mkdir -p "$deps"

toolchain=$root/cmake/mingw-w64-x86_64.cmake

build_sfml() {
  [ -f "$prefix/lib/libsfml-window-s.a" ] && return
  local t; t=$(seconds)
  unpack_source "$deps/src" libsfml "$deps/sfml-src"
  # The window module on Windows needs none of the bundled third-party binaries that Debian's
  # source package leaves out.
  static_sfml "$deps/sfml-src" "$deps/sfml-build" "$prefix" --fresh \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DDEMO_WINDOWS_DEPS="$deps" \
    -DSFML_USE_STATIC_STD_LIBS=ON -DSFML_USE_SYSTEM_DEPS=ON
  # SFML's package file names the GL library as Windows spells it; the cross linker on a
  # case-sensitive file system only finds mingw-w64's lower-case archive.
  sed -i 's/"OpenGL32"/"opengl32"/' "$prefix/lib/cmake/SFML/SFMLConfigDependencies.cmake"
  rm -rf "$deps/sfml-src" "$deps/sfml-build"
  echo "windows: SFML built in $(took "$t")"
}

build_glew() {
  [ -f "$prefix/lib/libglew32s.a" ] && return
  local t; t=$(seconds)
  unpack_source "$deps/src" glew "$deps/glew-src"
  static_glew "$deps/glew-src" "$prefix" x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-ar glew32s opengl32 wglew.h
  rm -rf "$deps/glew-src"
  echo "windows: GLEW built in $(took "$t")"
}

fetch_sources "$deps/src" libsfml glew
build_sfml
build_glew
# The header-only packages, copied so that the cross compiler never sees /usr/include as a whole.
stage_headers "$stage"

# The soundtrack is data, not code: the host's build renders it (the same bytes every time).
cmake --preset release >/dev/null
cmake --build --preset release --target soundtrack -j "$jobs"

t=$(seconds)
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release -j "$jobs"
echo "windows: demo.exe up to date in $(took "$t")"
# Beside the executable, as in the Linux build, for runs from the build folder.
cp -p "$root/build/bin/valdrim.mp3" "$out/bin/valdrim.mp3"

# The package (cmake/Packaging.cmake), packed on a tmpfs of its own for a fixed file order; the
# files carry the time of the last commit.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
mkdir -p "$out/pack"
# The mount needs root (through sudo for a user who is not).
as_root env SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" unshare --mount \
  bash -ec 'mount -t tmpfs tmpfs "$1" && source scripts/packages.sh && pack_twice "$@"' \
  pack "$out/pack" "$out" ZIP demo-windows.zip "$out"
zip=$out/demo-windows.zip
echo "windows: $zip ($(stat -c %s "$zip") bytes)"
