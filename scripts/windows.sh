#!/usr/bin/env bash
# Builds the Windows package on Debian: build-windows/bin/demo.exe, cross-compiled from the same
# source with mingw-w64 and linked statically, and build-windows/demo-windows.zip (demo.exe, its
# soundtrack and a short read-me). Installs the cross toolchain and Wine when missing; builds
# SFML (window, system) and GLEW from Debian's own source packages once and keeps them under
# build-windows/deps. Idempotent: with everything in place it only checks and relinks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh

source scripts/packages.sh
seconds() { date +%s.%N; }
took() { awk -v a="$1" -v b="$(seconds)" 'BEGIN { printf "%.1f s", b - a }'; }

# Wine runs the tests; the toolchain with the posix thread model has std::thread.
packages=(g++-mingw-w64-x86-64-posix wine64 wine fonts-wine dpkg-dev zip libglm-dev libcli11-dev libstb-dev)
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

# Debian's source packages, through a private apt configuration that names only a deb-src line
# for the mirror the system already uses; the system's own lists stay untouched.
fetch_sources() {
  local src=$deps/src
  if ls "$src"/libsfml_*.dsc "$src"/glew_*.dsc >/dev/null 2>&1; then return; fi
  local mirror suite apt=$deps/apt
  mirror=$( { cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '/^URIs:/ {print $2}'
              cat /etc/apt/sources.list 2>/dev/null | awk '/^deb / {print $2}'; } |
            grep -v -e '-security' | grep -i debian | head -n 1 || true)
  [ -n "$mirror" ] || { echo "windows: no Debian mirror found in the apt sources" >&2; exit 1; }
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  rm -rf "$apt" && mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$src"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" > "$apt/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
              -o "Dir::State::Status=/var/lib/dpkg/status" -o "APT::Get::List-Cleanup=0"
              -o "APT::Sandbox::User=root")
  apt-get "${opts[@]}" -qq update
  (cd "$src" && apt-get "${opts[@]}" -qq source --download-only libsfml glew)
  rm -rf "$apt"
}

# Unpacks a source package (with Debian's patches applied) into a fresh folder.
unpack() { # NAME DEST
  rm -rf "$2"
  dpkg-source --no-check -x "$(ls "$deps"/src/"$1"_*.dsc | tail -n 1)" "$2" >/dev/null
}

toolchain=$root/cmake/mingw-w64-x86_64.cmake

build_sfml() {
  [ -f "$prefix/lib/libsfml-window-s.a" ] && return
  local t; t=$(seconds)
  unpack libsfml "$deps/sfml-src"
  # The window module on Windows needs none of the bundled third-party binaries that Debian's
  # source package leaves out.
  cmake -S "$deps/sfml-src" -B "$deps/sfml-build" -G Ninja --fresh \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DDEMO_WINDOWS_DEPS="$deps" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DSFML_USE_STATIC_STD_LIBS=ON -DSFML_USE_SYSTEM_DEPS=ON \
    -DSFML_BUILD_AUDIO=OFF -DSFML_BUILD_GRAPHICS=OFF -DSFML_BUILD_NETWORK=OFF \
    -DSFML_BUILD_EXAMPLES=OFF -DSFML_BUILD_DOC=OFF -DSFML_INSTALL_PKGCONFIG_FILES=OFF >/dev/null
  cmake --build "$deps/sfml-build" -j "$jobs"
  cmake --install "$deps/sfml-build" >/dev/null
  # SFML's package file names the GL library as Windows spells it; the cross linker on a
  # case-sensitive file system only finds mingw-w64's lower-case archive.
  sed -i 's/"OpenGL32"/"opengl32"/' "$prefix/lib/cmake/SFML/SFMLConfigDependencies.cmake"
  rm -rf "$deps/sfml-src" "$deps/sfml-build"
  echo "windows: SFML built in $(took "$t")"
}

# GLEW is one C file; built as a static archive with a package file that hands GLEW_STATIC to
# everything linking it.
build_glew() {
  [ -f "$prefix/lib/libglew32s.a" ] && return
  local t; t=$(seconds)
  unpack glew "$deps/glew-src"
  mkdir -p "$prefix/lib/cmake/glew" "$prefix/include/GL"
  x86_64-w64-mingw32-gcc-posix -O2 -DGLEW_STATIC -I"$deps/glew-src/include" \
    -c "$deps/glew-src/src/glew.c" -o "$deps/glew.o"
  rm -f "$prefix/lib/libglew32s.a"
  x86_64-w64-mingw32-ar rcs "$prefix/lib/libglew32s.a" "$deps/glew.o"
  cp "$deps/glew-src/include/GL/glew.h" "$deps/glew-src/include/GL/wglew.h" "$prefix/include/GL/"
  cat > "$prefix/lib/cmake/glew/glew-config.cmake" <<'EOF'
get_filename_component(_glew_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET GLEW::GLEW)
  add_library(GLEW::GLEW STATIC IMPORTED)
  set_target_properties(GLEW::GLEW PROPERTIES
    IMPORTED_CONFIGURATIONS RELEASE
    IMPORTED_LOCATION "${_glew_prefix}/lib/libglew32s.a"
    IMPORTED_LOCATION_RELEASE "${_glew_prefix}/lib/libglew32s.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_glew_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS GLEW_STATIC
    INTERFACE_LINK_LIBRARIES opengl32)
endif()
set(GLEW_VERSION 2.2.0)
unset(_glew_prefix)
EOF
  rm -rf "$deps/glew-src" "$deps/glew.o"
  echo "windows: GLEW built in $(took "$t")"
}

# Header-only packages, linked in one by one from the host's installed packages (with their
# relocatable CMake package files), so the cross compiler never sees /usr/include as a whole.
stage_headers() {
  mkdir -p "$stage/include" "$stage/share/cmake"
  local header
  for header in glm CLI stb miniaudio.h; do
    [ -e "/usr/include/$header" ] || { echo "windows: /usr/include/$header is missing" >&2; exit 1; }
    ln -sfn "/usr/include/$header" "$stage/include/$header"
  done
  local package
  for package in glm CLI11; do
    rm -rf "$stage/share/cmake/$package"
    cp -r "/usr/share/cmake/$package" "$stage/share/cmake/$package"
  done
}

fetch_sources
build_sfml
build_glew
stage_headers

# The soundtrack is data, not code: the host's build renders it (the same bytes every time).
cmake --preset release >/dev/null
cmake --build --preset release --target soundtrack -j "$jobs"

t=$(seconds)
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release -j "$jobs"
echo "windows: demo.exe up to date in $(took "$t")"
# Beside the executable, as in the Linux build, for runs from the build folder.
cp -p "$root/build/bin/valdrim.mp3" "$out/bin/valdrim.mp3"

# The package: flat, so that the demo finds its soundtrack beside it when double-clicked.
zip=$out/demo-windows.zip
pack=$out/package
inputs=("$out/bin/demo.exe" "$out/bin/valdrim.mp3" "$root/scripts/windows-readme.txt")
stale=0
[ -f "$zip" ] || stale=1
for f in "${inputs[@]}"; do [ "$f" -nt "$zip" ] && stale=1; done
if [ $stale -eq 1 ]; then
  rm -rf "$pack" "$zip"
  mkdir -p "$pack"
  cp "$out/bin/demo.exe" "$out/bin/valdrim.mp3" "$pack/"
  sed 's/$/\r/' "$root/scripts/windows-readme.txt" > "$pack/README.txt"
  (cd "$pack" && zip -q -X -9 "$zip" demo.exe valdrim.mp3 README.txt)
fi
echo "windows: $zip ($(stat -c %s "$zip") bytes)"
