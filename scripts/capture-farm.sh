#!/usr/bin/env bash
# A capture drawn on many machines: GNU parallel runs `demo --capture --segment K/N` for each
# segment, here or on the hosts of --hosts, and one `demo --join` encodes all the frames with the
# soundtrack. The result is the file that `demo --capture OUT` with the same options writes, byte
# for byte: every frame depends only on its time, and the encoder sees the same frames once.
#
# usage: scripts/capture-farm.sh OUT [--size WxH] [--fps N] [--from S] [--to S] [--overwrite]
#                                [--segments N] [--hosts FILE] [--demo PATH]
#                                [--only-segment K | --join-only]
#
# --hosts FILE   GNU parallel's --sshloginfile: one host a line ("8/user@host", ":" for this
#                machine). Each needs bash and the same demo at the same path (--demo); a host
#                without a DISPLAY draws under xvfb-run. The frames come back over ssh (rsync).
# --segments N   how many pieces (default: 4 a host line, or this machine's CPUs)
# --demo PATH    the demo binary (default: this checkout's build/bin/demo)
# --only-segment K, --join-only
#                the two steps alone, for a batch system that runs the segments itself (a Slurm
#                job array: K from SLURM_ARRAY_TASK_ID); the work folder must then be shared
#
# The work lies in a hidden folder beside OUT; a run that failed leaves it, and the same command
# goes on from there, redoing only the segments that are not whole. Success leaves only OUT.
set -euo pipefail

say() { echo "capture-farm: $*" >&2; }
usage() { sed -n '7,9p' "$0" | sed 's/^# //' >&2; exit 2; }

root=$(cd "$(dirname "$0")/.." && pwd)
demo=$root/build/bin/demo
out="" hosts="" segments=0 only="" join_only=false
options=()
while [ $# -gt 0 ]; do
  case $1 in
    --size|--fps|--from|--to) [ $# -ge 2 ] || usage; options+=("$1" "$2"); shift 2 ;;
    --overwrite) options+=("$1"); shift ;;
    --segments) [ $# -ge 2 ] || usage; segments=$2; shift 2 ;;
    --hosts) [ $# -ge 2 ] || usage; hosts=$2; shift 2 ;;
    --demo) [ $# -ge 2 ] || usage; demo=$2; shift 2 ;;
    --only-segment) [ $# -ge 2 ] || usage; only=$2; shift 2 ;;
    --join-only) join_only=true; shift ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) say "unknown option $1"; usage ;;
    *) [ -z "$out" ] || usage; out=$1; shift ;;
  esac
done
[ -n "$out" ] || usage
command -v parallel >/dev/null || { say "needs GNU parallel (apt-get install parallel)"; exit 1; }
[ -x "$demo" ] || { say "no demo binary at $demo (build it, or give --demo)"; exit 1; }
demo=$(cd "$(dirname "$demo")" && pwd)/$(basename "$demo")
if [ -n "$hosts" ]; then
  [ -r "$hosts" ] || { say "cannot read the hosts file $hosts"; exit 1; }
  hosts=$(cd "$(dirname "$hosts")" && pwd)/$(basename "$hosts")
fi
if [ "$segments" = 0 ]; then
  if [ -n "$hosts" ]; then segments=$((4 * $(grep -cv '^[[:space:]]*\(#\|$\)' "$hosts"))); else segments=$(nproc); fi
fi
[[ $segments =~ ^[1-9][0-9]{0,5}$ ]] || { say "--segments must be a whole number from 1, not \"$segments\""; exit 2; }

# demo judges the options and the output, and says how many frames there are, before any work.
check=$("$demo" --capture "$out" "${options[@]}" --dry-run 2>&1) || { say "${check#demo: }"; exit 2; }
frames=${check##* of }
[[ $frames =~ ^[0-9]+$ ]] || { say "$demo does not answer as demo does: $check"; exit 1; }
if [ "$segments" -gt "$frames" ]; then
  say "$frames frames cannot make $segments segments"
  exit 2
fi
if [ -n "$only" ] && ! { [[ $only =~ ^[0-9]+$ ]] && [ "$only" -lt "$segments" ]; }; then
  say "--only-segment must be a whole number from 0 to $((segments - 1)), not \"$only\""
  exit 2
fi

# A host that cannot be reached, or lacks the demo, is named before anything is sent to it.
remote=()
if [ -n "$hosts" ] && [ -z "$only" ] && ! $join_only; then
  while read -r login; do
    [[ -n $login && $login != \#* ]] || continue
    reply=$(parallel --nonall --sshlogin "$login" "'$demo' --version" 2>&1 </dev/null) || true
    if [[ $reply != "demo "* ]]; then
      say "cannot run $demo on ${login##* }: $(tr -s '\r\n' '  ' <<<"$reply" | sed 's/ *$//')"
      exit 1
    fi
  done <"$hosts"
  # Each job draws in a folder of its own on its host; the finished segment comes back.
  remote=(--sshloginfile "$hosts" --workdir ... --return 'seg-{}' --cleanup)
fi

# One work folder per output, so that a second run of the same command goes on with it.
name=$(basename "$out" | tr -c 'A-Za-z0-9._-' '_')
work=$(cd "$(dirname "$out")" && pwd)/.capture-farm.$name
# Work for other options is dropped; the stamp is written whole, so that segments starting
# together on a batch system never take a half-written one for another's.
stamp="$demo ${options[*]} --segments $segments"
if [ -f "$work/stamp" ] && [ "$(cat "$work/stamp")" != "$stamp" ]; then
  rm -rf "$work"
fi
mkdir -p "$work/logs"
echo "$stamp" >"$work/stamp.$$" && mv "$work/stamp.$$" "$work/stamp"

# One segment, run by GNU parallel here or on a host, in the job's folder: drawn under a
# temporary name and renamed when whole, so a killed try is redone, never taken for finished.
farm_segment() {
  local k=$1 n=$2 demo=$3
  shift 3
  rm -rf "seg-$k.part" "seg-$k"
  mkdir -p "seg-$k.part"
  local run=("$demo" --capture "seg-$k.part/%06d.png" "$@" --segment "$k/$n")
  if [ -z "${DISPLAY:-}" ]; then
    run=(xvfb-run -a -s "-screen 0 640x480x24" "${run[@]}")
  fi
  "${run[@]}" 2>&1 && mv "seg-$k.part" "seg-$k"
}
export -f farm_segment

# The tagged lines of every job become one log per segment and one line of progress.
progress() {
  local started=$EPOCHREALTIME tag text drawn=0 finished=0 last="" line k
  declare -A at=()
  while IFS=$'\t' read -r tag text; do
    if ! [[ $tag =~ ^[0-9]+$ ]]; then printf '%s\n' "$tag" >&2; continue; fi  # parallel's own word
    printf '%s\n' "$text" >>"$work/logs/seg-$tag.log"
    if [[ $text =~ frame\ ([0-9]+)\ of ]]; then at[$tag]=${BASH_REMATCH[1]}; fi
    if [[ $text == "demo: wrote "* ]]; then finished=$((finished + 1)); fi
    drawn=0
    for k in "${!at[@]}"; do drawn=$((drawn + at[$k])); done
    local rate left
    read -r rate left < <(awk -v f="$drawn" -v t="$frames" -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN {
      s = b - a; l = f > 0 ? (t - f) * s / f : 0
      printf "%.1f %d:%02d\n", (s > 0 ? f / s : 0), l / 60, l % 60 }')
    line="$finished of $segments segments, frame $drawn of $frames, $rate fps, $left left"
    if [ -t 2 ]; then printf '\rcapture-farm: %s ' "$line" >&2
    elif [ "$line" != "$last" ] && [[ $text == "demo: wrote "* || $((drawn * 10 / frames)) != "${step:-}" ]]; then
      say "$line"
    fi
    step=$((drawn * 10 / frames)) last=$line
  done
  if [ -t 2 ]; then echo >&2; fi
}

cd "$work"
if [ -n "$only" ]; then
  if [ -d "seg-$only" ]; then say "segment $only of $segments is already whole"; exit 0; fi
  farm_segment "$only" "$segments" "$demo" "${options[@]}" > >(tee "logs/seg-$only.log" >&2)
  exit
fi
set +e
$join_only ||
seq 0 $((segments - 1)) |
  parallel --retries 3 --joblog jobs.log --resume-failed --line-buffer --tagstring '{}' \
    --env farm_segment "${remote[@]}" farm_segment '{}' "$segments" "$demo" "${options[@]}" 2>&1 |
  progress
set -e
for k in $(seq 0 $((segments - 1))); do
  if [ ! -d "seg-$k" ]; then
    why=$(tail -n 1 "logs/seg-$k.log" 2>/dev/null || true)
    say "segment $k of $segments failed: ${why:-it did not run}"
    say "the work is kept in $work; the same command goes on from there"
    exit 1
  fi
done

mkdir -p frames
for k in $(seq 0 $((segments - 1))); do
  find "seg-$k" -name '*.png' -exec mv -t frames {} +
done
cd "$OLDPWD"
say "joining $frames frames into $out"
if ! joined=$("$demo" --capture "$out" "${options[@]}" --join "$work/frames/%06d.png" 2>&1); then
  say "the join failed: $(tail -n 1 <<<"$joined")"
  exit 1
fi
grep -v '^demo: joined' <<<"$joined" >&2 || true
rm -rf "$work"
say "wrote $out ($frames frames in $segments segments, ${SECONDS} s)"
