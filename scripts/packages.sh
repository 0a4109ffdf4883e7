# Sourced by the set-up scripts: which Debian packages are missing, and installing them.

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# can_be_root LABEL: true for root and for a user whom sudo lets in (without a password, or
# asking for one at a terminal); otherwise says so in one line.
can_be_root() {
  [ "$(id -u)" -eq 0 ] && return 0
  if command -v sudo >/dev/null 2>&1 && { [ -t 0 ] || sudo -n true >/dev/null 2>&1; }; then return 0; fi
  echo "$1: needs root, or a user with sudo, to install packages and make Debian roots" >&2
  return 1
}

# Prints those of the named packages that are not installed, one a line.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# install_packages LABEL PACKAGE...: installs them from the archive, without recommends.
install_packages() {
  local label=$1
  shift
  echo "$label: installing $*"
  # Another install on the machine holds dpkg's lock for a while: wait for it, not fail.
  as_root apt-get -o DPkg::Lock::Timeout=900 update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "$@"
}

# The Debian mirror the system's apt already uses (the security archive aside), for roots and
# source packages fetched without touching the system's own lists.
debian_mirror() {
  local mirror
  mirror=$( { cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '/^URIs:/ {print $2}'
              cat /etc/apt/sources.list 2>/dev/null | awk '/^deb / {print $2}'; } |
            grep -v -e '-security' | grep -i debian | head -n 1 || true)
  [ -n "$mirror" ] || { echo "packages: no Debian mirror found in the apt sources" >&2; return 1; }
  echo "$mirror"
}

# private_apt DIR KIND SUITE: sets apt_options to an apt state of its own under DIR whose only
# source is the system's mirror's SUITE (KIND: deb or deb-src); the system's own lists and cache
# stay untouched.
private_apt() {
  local dir=$1 kind=$2 suite=$3 mirror
  mirror=$(debian_mirror) || return 1
  rm -rf "$dir" && mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  echo "$kind [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" > "$dir/sources.list"
  apt_options=(-o "Dir::Etc::SourceList=$dir/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
               -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache"
               -o "Dir::State::Status=/var/lib/dpkg/status" -o "APT::Get::List-Cleanup=0"
               -o "APT::Sandbox::User=root")
}

# fetch_sources DIR PACKAGE...: Debian's source packages of the system's own release, downloaded
# into DIR once (kept while each package's .dsc is there).
fetch_sources() {
  local dir=$1 p need=()
  shift
  for p in "$@"; do ls "$dir/${p}"_*.dsc >/dev/null 2>&1 || need+=("$p"); done
  [ ${#need[@]} -gt 0 ] || return 0
  local apt=$dir/.apt suite
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mkdir -p "$dir"
  private_apt "$apt" deb-src "$suite"
  apt-get "${apt_options[@]}" -qq update
  (cd "$dir" && apt-get "${apt_options[@]}" -qq source --download-only "${need[@]}")
  rm -rf "$apt"
}

# unpack_source DIR NAME DEST: NAME's source package from DIR, Debian's patches applied, in a
# fresh folder DEST.
unpack_source() {
  rm -rf "$3"
  dpkg-source --no-check -x "$(ls "$1/$2"_*.dsc | tail -n 1)" "$3" >/dev/null
}

# stage_headers DIR: the header-only packages the build takes from the host (glm, CLI11, stb,
# miniaudio, with glm's and CLI11's relocatable CMake package files) copied into DIR/include and
# DIR/share/cmake, for builds that must not see the host's /usr/include as a whole: a cross
# compiler, or a root of an older release that lacks some of them.
stage_headers() {
  local dir=$1 header package
  mkdir -p "$dir/include" "$dir/share/cmake"
  for header in glm CLI stb miniaudio.h; do
    [ -e "/usr/include/$header" ] || { echo "packages: /usr/include/$header is missing" >&2; return 1; }
    rm -rf "${dir:?}/include/$header"
    cp -rLp "/usr/include/$header" "$dir/include/$header"
  done
  for package in glm CLI11; do
    rm -rf "${dir:?}/share/cmake/$package"
    cp -rp "/usr/share/cmake/$package" "$dir/share/cmake/$package"
  done
}

# static_sfml SRC BUILD PREFIX [CMAKE_ARGUMENT...]: SFML's window and system modules as static
# archives, with SFML's CMake package files, installed under PREFIX.
static_sfml() {
  local src=$1 build=$2 prefix=$3
  shift 3
  cmake -S "$src" -B "$build" -G Ninja "$@" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DSFML_BUILD_AUDIO=OFF -DSFML_BUILD_GRAPHICS=OFF -DSFML_BUILD_NETWORK=OFF \
    -DSFML_BUILD_EXAMPLES=OFF -DSFML_BUILD_DOC=OFF -DSFML_INSTALL_PKGCONFIG_FILES=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)"
  cmake --install "$build" >/dev/null
}

# static_glew SRC PREFIX CC AR NAME GL HEADER: GLEW, one C file, as PREFIX/lib/libNAME.a, with
# glew.h and the platform's HEADER, and a CMake package file whose GLEW::GLEW links GL and hands
# GLEW_STATIC to everything linking it.
static_glew() {
  local src=$1 prefix=$2 cc=$3 ar=$4 name=$5 gl=$6 header=$7
  mkdir -p "$prefix/lib/cmake/glew" "$prefix/include/GL"
  "$cc" -O2 -DGLEW_STATIC -I"$src/include" -c "$src/src/glew.c" -o "$src/glew.o"
  rm -f "$prefix/lib/lib$name.a"
  "$ar" rcs "$prefix/lib/lib$name.a" "$src/glew.o"
  cp "$src/include/GL/glew.h" "$src/include/GL/$header" "$prefix/include/GL/"
  cat > "$prefix/lib/cmake/glew/glew-config.cmake" <<EOF
get_filename_component(_glew_prefix "\${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET GLEW::GLEW)
  add_library(GLEW::GLEW STATIC IMPORTED)
  set_target_properties(GLEW::GLEW PROPERTIES
    IMPORTED_CONFIGURATIONS RELEASE
    IMPORTED_LOCATION "\${_glew_prefix}/lib/lib$name.a"
    IMPORTED_LOCATION_RELEASE "\${_glew_prefix}/lib/lib$name.a"
    INTERFACE_INCLUDE_DIRECTORIES "\${_glew_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS GLEW_STATIC
    INTERFACE_LINK_LIBRARIES $gl)
endif()
set(GLEW_VERSION 2.2.0)
unset(_glew_prefix)
EOF
}

# pack_twice STAGE BUILD GENERATOR FILE DEST: CPack's archive FILE of BUILD's install rules,
# packed twice under STAGE and copied to DEST when both come out the same bytes. The files carry
# the time SOURCE_DATE_EPOCH (cmake/Packaging.cmake). CPack adds them in the order the file
# system lists its staging folder: on ext4 a hash seeded per file system, on a tmpfs the order
# the install rules made them; so STAGE must be a tmpfs.
pack_twice() {
  local stage=$1 build=$2 generator=$3 file=$4 dest=$5
  [ -n "${SOURCE_DATE_EPOCH:-}" ] || { echo "packages: SOURCE_DATE_EPOCH is not set" >&2; return 1; }
  [ "$(stat -f -c %T "$stage")" = tmpfs ] || { echo "packages: $stage is not a tmpfs" >&2; return 1; }
  local run
  for run in 1 2; do
    (umask 022 && cd "$build" && TZ=UTC cpack -G "$generator" -B "$stage/$run" >/dev/null) ||
      { echo "packages: cpack failed in $build" >&2; return 1; }
  done
  cmp "$stage/1/$file" "$stage/2/$file" || { echo "packages: packing $file twice gave different bytes" >&2; return 1; }
  mkdir -p "$dest"
  cp "$stage/1/$file" "$dest/$file"
  rm -rf "${stage:?}/1" "${stage:?}/2"
}
