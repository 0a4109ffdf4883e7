#!/usr/bin/env bash
# The Debian roots behind the package, through the real scripts:
#  - a user who can become root neither directly nor through sudo is told so in one line, by
#    scripts/root.sh and by scripts/package.sh alike;
#  - a root left half-made by a killed run (its *.new folder still holding mounts, planted here
#    as mmdebstrap leaves them) and made of an older package list is made again: the mounts
#    go, nothing behind them is deleted, the new root records its list, and a second call
#    finds it made.
# Usage: roots_test.sh REPOSITORY SCRATCH. Needs root (exit 77, skipped, otherwise).
set -uo pipefail
repo=$1
scratch=$2
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root"; exit 77; }
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }

mounted_under() { awk -v d="$1/" 'index($2 "/", d) == 1' /proc/self/mounts; }
cleanup() {
  mounted_under "$scratch" | awk '{ print $2 }' | sort -r | while read -r m; do umount -l "$m"; done
  rm -rf --one-file-system "$scratch"
}
cleanup
trap cleanup EXIT
mkdir -p "$scratch"

# --- No root: one line each, with no sudo and with a sudo that refuses.
mkdir -p "$scratch/refusing"
printf '#!/bin/sh\necho "sudo: a terminal is required to read the password"\necho "sudo: a password is required" >&2\nexit 1\n' \
  >"$scratch/refusing/sudo"
chmod 755 "$scratch" "$scratch/refusing" "$scratch/refusing/sudo"
for path in /usr/bin:/bin "$scratch/refusing:/usr/bin:/bin"; do
  for command in "scripts/root.sh make $scratch/unmade bullseye" "scripts/package.sh"; do
    output=$(cd "$repo" && setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH="$path" HOME=/ \
               bash $command </dev/null 2>&1)
    status=$?
    check "without root ($command, PATH $path): status 1, one line naming root and sudo" \
      '[ $status -eq 1 ] && [ "$(printf "%s\n" "$output" | wc -l)" -eq 1 ] && grep -q "needs root, or a user with sudo" <<<"$output"'
  done
done
check "nothing made without root" '[ ! -e "$scratch/unmade" ]'

# --- A half-made root with mounts in it, beside a root made of an older list.
dir=$scratch/root
mkdir -p "$dir/etc" "$scratch/host" "$dir.new/proc" "$dir.new/dev"
echo "bullseye libgl1" >"$dir/.complete"
touch "$dir/planted" "$scratch/host/kept"
mount --bind "$scratch/host" "$dir.new/proc"
mount -t tmpfs tmpfs "$dir.new/dev"
mkdir "$dir.new/dev/pts"
mount -t tmpfs tmpfs "$dir.new/dev/pts"
output=$("$repo/scripts/root.sh" make "$dir" bullseye 2>&1)
status=$?
printf '%s\n' "$output" | tail -n 3
check "the root is made again after a killed run" '[ $status -eq 0 ]'
check "no mount is left under the roots" '[ -z "$(mounted_under "$scratch")" ]'
check "what a mount showed is kept" '[ -f "$scratch/host/kept" ]'
check "the root of the older list was replaced" '[ ! -e "$dir/planted" ] && grep -q "^11" "$dir/etc/debian_version"'
check "the root records what it is made of" '[ "$(cat "$dir/.complete")" = bullseye ] && [ ! -e "$dir.new" ]'
output=$("$repo/scripts/root.sh" make "$dir" bullseye 2>&1)
status=$?
check "a second call finds it made" '[ $status -eq 0 ] && ! grep -q "making" <<<"$output"'

[ $failures -eq 0 ] || { echo "$failures failed"; exit 1; }
echo "all passed"
