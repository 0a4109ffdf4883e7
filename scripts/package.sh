#!/usr/bin/env bash
# Builds the Linux package, build-linux/demo-linux-x86_64.tar.gz: one folder holding demo, its
# soundtrack and a read-me, that plays on any desktop Linux as old as Debian 11 or Ubuntu 20.04.
#
# The executable is built inside a Debian 11 root (build-linux/roots/bullseye-build, made once by
# scripts/root.sh) so that it asks for no newer C library than that release's; SFML and GLEW
# are built there once from Debian's source packages, and with GLU, libstdc++ and libgcc linked
# in statically (cmake/linux-package.cmake). The script then checks what the executable needs
# and fails when it needs more, and packs twice to check that the archive comes out the same.
# Idempotent: with everything in place it only checks, relinks and packs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/packages.sh
umask 022

out=$root/build-linux
deps=$out/deps
prefix=$deps/prefix
build=$out/build
name=demo-linux-x86_64
buildroot=$out/roots/bullseye-build
# The newest C library symbol version the executable may ask for: Debian 11's glibc.
glibc_limit=2.31
# The only shared libraries it may load.
allowed_libraries="ld-linux-x86-64.so.2 libc.so.6 libm.so.6 libpthread.so.0 libdl.so.2 librt.so.1
libGL.so.1 libX11.so.6 libXrandr.so.2 libudev.so.1"

seconds() { date +%s.%N; }
took() { awk -v a="$1" -v b="$(seconds)" 'BEGIN { printf "%.1f s", b - a }'; }

# The part that runs inside the build root, where the repository has the same path.
if [ "${1:-}" = --in-root ]; then
  if [ ! -f "$prefix/lib/libsfml-window-s.a" ]; then
    t=$(seconds)
    static_sfml "$deps/sfml-src" "$deps/sfml-build" "$prefix"
    rm -rf "$deps/sfml-src" "$deps/sfml-build"
    echo "package: SFML built in $(took "$t")"
  fi
  if [ ! -f "$prefix/lib/libGLEW.a" ]; then
    t=$(seconds)
    static_glew "$deps/glew-src" "$prefix" gcc ar GLEW GL glxew.h
    rm -rf "$deps/glew-src"
    echo "package: GLEW built in $(took "$t")"
  fi
  # Debian 11's cmake predates presets.
  t=$(seconds)
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDEMO_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-package.cmake" -DDEMO_LINUX_DEPS="$deps" \
    -DDEMO_SOUNDTRACK="$root/build/bin/valdrim.mp3" >/dev/null
  cmake --build "$build" --target demo -j "$(nproc)"
  echo "package: demo up to date in $(took "$t")"
  # The root's /tmp is a tmpfs of this run's own.
  pack_twice /tmp "$build" TGZ "$name.tar.gz" "$out"
  exit 0
fi

can_be_root package || exit 1
bash scripts/setup.sh test
mapfile -t missing < <(missing_packages mmdebstrap dpkg-dev binutils)
[ ${#missing[@]} -eq 0 ] || install_packages package "${missing[@]}"

# The soundtrack is data, not code: the host's build renders it (the same bytes every time).
cmake --preset release >/dev/null
cmake --build --preset release --target soundtrack -j "$(nproc)"

t=$(seconds)
scripts/root.sh make "$buildroot" bullseye g++ cmake ninja-build \
  libx11-dev libxrandr-dev libudev-dev libgl-dev libglu1-mesa-dev libdbus-1-dev

# Sources are fetched and unpacked here, where the host's apt and dpkg-source are; only what is
# not built yet.
[ -f "$prefix/lib/libsfml-window-s.a" ] && [ -f "$prefix/lib/libGLEW.a" ] || {
  fetch_sources "$deps/src" libsfml glew
  [ -f "$prefix/lib/libsfml-window-s.a" ] || unpack_source "$deps/src" libsfml "$deps/sfml-src"
  [ -f "$prefix/lib/libGLEW.a" ] || unpack_source "$deps/src" glew "$deps/glew-src"
}
stage_headers "$deps/stage"

# The packed files carry the time of the last commit.
epoch=$(git log -1 --format=%ct 2>/dev/null || echo 0)
scripts/root.sh run "$buildroot" --bind "$root" --cd "$root" SOURCE_DATE_EPOCH="$epoch" \
  -- bash scripts/package.sh --in-root
echo "package: built in the Debian 11 root in $(took "$t")"

# What the executable asks of the system it lands on.
exe=$build/bin/demo
newest=$(objdump -T "$exe" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1)
if [ "$(printf '%s\n%s\n' "$newest" "$glibc_limit" | sort -V | tail -n 1)" != "$glibc_limit" ]; then
  echo "package: $exe needs glibc $newest, newer than $glibc_limit" >&2
  exit 1
fi
needed=$(readelf -d "$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for library in $needed; do
  grep -qw -- "$library" <<<"$allowed_libraries" || { echo "package: $exe needs $library" >&2; exit 1; }
done
if readelf -d "$exe" | grep -qE '\((RUNPATH|RPATH)\)'; then
  echo "package: $exe has a run path" >&2
  exit 1
fi
if readelf -S "$exe" | grep -q '\.symtab'; then
  echo "package: $exe is not stripped" >&2
  exit 1
fi
echo "package: $out/$name.tar.gz ($(stat -c %s "$out/$name.tar.gz") bytes; demo needs glibc $newest," \
  "$(echo $needed))"
