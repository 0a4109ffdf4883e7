#!/usr/bin/env bash
# Minimal Debian roots of other releases: one to build in against an older C library, and
# others to run the package where nothing of the host's is installed.
#
#   scripts/root.sh make DIR SUITE [PACKAGE...]
#     Makes DIR with mmdebstrap from the system's mirror: SUITE's essential packages and the
#     named ones, without recommends or documentation. Made once and kept while SUITE and the
#     packages are the ones it was made of (recorded in DIR/.complete); concurrent callers wait
#     for the one making it. What a killed run left mounted in a half-made root is unmounted.
#     ROOT_VARIANT=minbase makes it as a stock Debian image is (with apt), instead of the bare
#     essential packages.
#   scripts/root.sh run DIR [--bind HOST[:INSIDE]]... [--ro HOST[:INSIDE]]... [--cd FOLDER]
#                           [NAME=VALUE]... -- COMMAND [ARGUMENT...]
#     Runs COMMAND chrooted in DIR, in FOLDER (default /), with only PATH, HOME=/root and the
#     NAME=VALUE pairs in its environment; the host's /dev, /proc and /sys; an empty /tmp and
#     /run of its own; and the given folders or files of the host (--ro: read-only) at INSIDE
#     (default: the same path). The mounts live in a mount namespace of the command's own: they
#     never show outside it and go with it however it ends. COMMAND keeps this script's process
#     id, so a caller stops it by that id, and its exit status is the script's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/packages.sh"
# Making a root, mounting and chroot need root; a user with sudo gets there through it.
if [ "$(id -u)" -ne 0 ]; then
  can_be_root root || exit 1
  exec sudo -- "$here/root.sh" "$@"
fi

# unmount_under DIR: unmounts whatever is mounted at or below DIR, deepest first: a run killed
# while mmdebstrap worked leaves its /dev, /proc and /sys mounts behind.
unmount_under() {
  local dir mount
  dir=$(realpath -m "$1")
  awk -v d="$dir" '{ m = $2; gsub(/\\040/, " ", m); if (m == d || index(m, d "/") == 1) print m }' \
    /proc/self/mounts | sort -r | while IFS= read -r mount; do
    umount "$mount" 2>/dev/null || umount --lazy "$mount" ||
      { echo "root: could not unmount $mount" >&2; return 1; }
  done
}

# remove_root DIR: DIR gone, with anything mounted in it unmounted first; --one-file-system
# keeps rm from ever reaching into a mount that would not go.
remove_root() {
  [ -e "$1" ] || return 0
  unmount_under "$1"
  rm -rf --one-file-system "$1"
}

make_root() {
  local dir=$1 suite=$2
  shift 2
  # The root records what it was made of; one made of another list is made again.
  local variant=${ROOT_VARIANT:-essential}
  local made_of="$suite${*:+ $*}"
  [ "$variant" = essential ] || made_of="$made_of ($variant)"
  [ "$(cat "$dir/.complete" 2>/dev/null)" = "$made_of" ] && return 0
  mkdir -p "$(dirname "$dir")"
  local lock
  exec {lock}>"$dir.lock"
  flock "$lock"
  [ "$(cat "$dir/.complete" 2>/dev/null)" = "$made_of" ] && return 0
  local missing
  mapfile -t missing < <(missing_packages mmdebstrap)
  [ ${#missing[@]} -eq 0 ] || install_packages root "${missing[@]}"
  local mirror include
  mirror=$(debian_mirror)
  include=$(IFS=,; echo "$*")
  remove_root "$dir.new"
  echo "root: making $dir ($suite${include:+: $include})" >&2
  local start=$SECONDS
  mmdebstrap --quiet --mode=root --variant="$variant" ${include:+--include="$include"} \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-include=/usr/share/doc/*/copyright' \
    "$suite" "$dir.new" "$mirror" ||
    { echo "root: mmdebstrap could not make $dir from $mirror ($suite)" >&2; exit 1; }
  echo "$made_of" >"$dir.new/.complete"
  remove_root "$dir"
  mv "$dir.new" "$dir"
  echo "root: $dir made in $((SECONDS - start)) s ($(du -sh --one-file-system "$dir" | cut -f1))" >&2
}

run_in_root() {
  local dir=$1
  shift
  [ -s "$dir/.complete" ] || { echo "root: $dir is not a finished root" >&2; exit 1; }
  if [ -z "${DEMO_ROOT_NAMESPACE:-}" ]; then
    # unshare without --fork: the same process, now in a mount namespace of its own.
    DEMO_ROOT_NAMESPACE=1 exec unshare --mount --propagation private "$0" run "$dir" "$@"
  fi
  local binds=() folder=/ environment=()
  while [ $# -gt 0 ]; do
    case $1 in
      --bind | --ro) binds+=("$1" "$2"); shift 2 ;;
      --cd) folder=$2; shift 2 ;;
      --) shift; break ;;
      *=*) environment+=("$1"); shift ;;
      *) echo "root: unknown argument $1" >&2; exit 2 ;;
    esac
  done
  [ $# -gt 0 ] || { echo "root: no command given" >&2; exit 2; }
  mount --rbind /dev "$dir/dev"
  mount -t proc proc "$dir/proc"
  mount --rbind /sys "$dir/sys"
  mount -t tmpfs -o mode=1777 tmpfs "$dir/tmp"
  mkdir -p "$dir/run"
  mount -t tmpfs -o mode=755 tmpfs "$dir/run"
  local i host inside target
  for ((i = 0; i < ${#binds[@]}; i += 2)); do
    host=${binds[i + 1]%%:*}
    inside=${binds[i + 1]#*:}
    target=$dir$inside
    [ -e "$host" ] || { echo "root: $host does not exist" >&2; exit 1; }
    if [ -d "$host" ]; then mkdir -p "$target"; else mkdir -p "$(dirname "$target")" && touch "$target"; fi
    mount --bind "$host" "$target"
    [ "${binds[i]}" = --bind ] || mount -o remount,bind,ro "$target"
  done
  exec chroot "$dir" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root \
    "${environment[@]}" /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$folder" "$@"
}

case ${1:-} in
  make) shift; make_root "$@" ;;
  run) shift; run_in_root "$@" ;;
  *) echo "usage: $0 make DIR SUITE [PACKAGE...] | run DIR [OPTIONS] -- COMMAND..." >&2; exit 2 ;;
esac
