#!/usr/bin/env bash
# The README's first command, run as a new user runs it: in a fresh copy of a minimal Debian 12
# root (a stock image's packages), as root, with no display and no sound server, on a copy of
# this checkout, with a short capture. Once on the bare root, once on one that also has
# GoogleTest (whose presence must not pull the tests into the run). Passes when each run leaves a
# file of H.264 video and AAC sound of the asked length.
# Usage: front_door_test.sh REPOSITORY ROOTS SCRATCH. Needs root (exit 77, skipped, otherwise).
set -uo pipefail
repo=$1 roots=$2 scratch=$3
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root"; exit 77; }
seconds=5 size=640x360

# The first command of the README's two, as it stands there.
command=$(awk '/^## Two commands/ {s = 1} s && /^```sh/ {getline; sub(/[ \t]*#.*/, ""); print; exit}' "$repo/README.md")
[ -n "$command" ] || { echo "FAILED: no first command found in README.md"; exit 1; }
echo "the README's first command: $command"

# The pristine root is made once and kept; each run works in a copy of it. Its downloads are
# kept beside it and shared by every run, so that only the first fetches the packages.
pristine=$roots/bookworm-minbase
ROOT_VARIANT=minbase "$repo/scripts/root.sh" make "$pristine" bookworm || exit 1
archives=$roots/front-door-archives
mkdir -p "$archives/partial"

mounted_under() { awk -v d="$1/" 'index($2 "/", d) == 1 { print $2 }' /proc/self/mounts; }
cleanup() {
  mounted_under "$scratch" | sort -r | while read -r m; do umount -l "$m"; done
  rm -rf --one-file-system "$scratch"
}
cleanup
trap cleanup EXIT
mkdir -p "$scratch"

# The checkout as it is (tracked and new files, not what git ignores), in a folder whose name
# has a space, as a user's may.
checkout=(); while IFS= read -r -d '' f; do [ -e "$repo/$f" ] && checkout+=("$f"); done \
  < <(git -C "$repo" ls-files -z --cached --others --exclude-standard)

installed() { chroot "$1" dpkg-query -W -f='${Installed-Size}\n' | awk '{ n++; k += $1 } END { printf "%d %d\n", n, k / 1024 }'; }

failures=0
run() {
  local name=$1 extra=$2 dir=$scratch/$1
  cp -a "$pristine" "$dir"
  # Stock images unpack without syncing each file; apt keeps what it fetched (here, shared).
  echo 'force-unsafe-io' >"$dir/etc/dpkg/dpkg.cfg.d/unsafe-io"
  if [ -n "$extra" ]; then
    "$repo/scripts/root.sh" run "$dir" --bind "$archives:/var/cache/apt/archives" -- \
      sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $extra" \
      >"$scratch/$name-extra.log" 2>&1 || { echo "FAILED: $name: could not install $extra"; tail -n 20 "$scratch/$name-extra.log"; return 1; }
  fi
  local home="$dir/root/my demo"
  mkdir -p "$home"
  (cd "$repo" && cp --parents -a "${checkout[@]}" "$home/")
  read -r before_count before_mib < <(installed "$dir")
  local start=$SECONDS
  "$repo/scripts/root.sh" run "$dir" --bind "$archives:/var/cache/apt/archives" --cd "/root/my demo" -- \
    bash -c "$command --size $size --to $seconds" >"$scratch/$name.log" 2>&1
  local status=$? took=$((SECONDS - start))
  read -r after_count after_mib < <(installed "$dir")
  local file="$home/build/show.mp4"
  local streams duration
  streams=$(ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 "$file" 2>/dev/null | sort | tr '\n' ' ')
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file" 2>/dev/null)
  echo "$name: status $status in $took s; installed $((after_count - before_count)) packages," \
       "$((after_mib - before_mib)) MiB; $file: ${streams:-none}${duration:+, $duration s}"
  if [ $status -ne 0 ] || [ "$streams" != "aac,audio h264,video " ] ||
     ! awk -v d="${duration:-0}" -v s=$seconds 'BEGIN { exit !(d > s - 0.1 && d < s + 0.1) }'; then
    echo "FAILED: $name: the command's last lines:"
    tail -n 25 "$scratch/$name.log"
    return 1
  fi
  rm -rf --one-file-system "$dir"
}
run bare "" || failures=$((failures + 1))
run googletest "googletest libgtest-dev" || failures=$((failures + 1))
[ $failures -eq 0 ] || exit 1
echo "all passed"
