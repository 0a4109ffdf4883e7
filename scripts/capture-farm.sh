#!/usr/bin/env bash
# A capture drawn on many machines: GNU parallel runs `demo --capture --segment K/N` for each
# segment, here or on the hosts of --hosts, and one `demo --join` encodes all the frames with the
# soundtrack. The result is the file that `demo --capture OUT` with the same options writes, byte
# for byte: every frame depends only on its time, and the encoder is handed the same frames.
#
# usage: scripts/capture-farm.sh OUT [--size WxH] [--fps N] [--from S] [--to S] [--overwrite]
#          [--segments N | --segment-frames F] [--hosts FILE] [--jobs N] [--connect-timeout S]
#          [--retries N] [--joblog FILE] [--logs DIR] [--demo PATH]
#          [--only-segment K | --join-only | --status]
#
# --hosts FILE        GNU parallel's --sshloginfile: one host a line ("8/user@host", ":" for this
#                     machine). Each needs bash, ffmpeg, rsync and the same demo at the same path
#                     (--demo); a host without a DISPLAY draws under xvfb-run. The frames come back
#                     over ssh.
# --segments N        how many pieces (default: 4 a host line, or this machine's CPUs)
# --segment-frames F  or pieces of F frames each (the last may be shorter)
# --jobs N            segments drawn at once on each host (parallel's -j; default: its CPUs); a
#                     host line's "N/" counts for that host
# --connect-timeout S a host that has not answered ssh in S seconds is given up (default 10)
# --retries N         tries of a segment before the farm gives up (default 3)
# --joblog FILE       GNU parallel's job log of every try, appended to FILE and kept
# --logs DIR          each segment's output in DIR/seg-K.log, kept (otherwise in the work folder)
# --demo PATH         the demo binary (default: this checkout's build/bin/demo)
# --status            say what the work folder of OUT holds, and change nothing
# --only-segment K, --join-only
#                     the two steps alone, for a batch system that runs the segments itself (a
#                     Slurm job array: K from SLURM_ARRAY_TASK_ID); the work folder must be shared
#
# The work lies in a hidden folder beside OUT. A run that failed or was interrupted (Ctrl-C: exit
# status 130) leaves it, and the same command goes on from there, drawing only the segments that
# are not whole there. Success leaves only OUT.
set -euo pipefail

say() { echo "capture-farm: $*" >&2; }
usage() { sed -n '7,10p' "$0" | sed 's/^# //' >&2; exit 2; }
needs() { [ "$2" -ge 2 ] || { say "$1 needs a value"; usage; }; }
whole_number() { [[ $2 =~ ^[1-9][0-9]{0,5}$ ]] || { say "$1 must be a whole number from 1, not \"$2\""; exit 2; }; }

root=$(cd "$(dirname "$0")/.." && pwd)
demo=$root/build/bin/demo
out="" hosts="" segments=0 segment_frames=0 jobs=0 timeout=10 retries=3 joblog="" logs="" only=""
join_only=false status_only=false
options=()
while [ $# -gt 0 ]; do
  case $1 in
    --size|--fps|--from|--to) needs "$1" $#; options+=("$1" "$2"); shift 2 ;;
    --overwrite) options+=("$1"); shift ;;
    --segments) needs "$1" $#; whole_number "$1" "$2"; segments=$2; shift 2 ;;
    --segment-frames) needs "$1" $#; whole_number "$1" "$2"; segment_frames=$2; shift 2 ;;
    --hosts) needs "$1" $#; hosts=$2; shift 2 ;;
    -j|--jobs) needs "$1" $#; whole_number "$1" "$2"; jobs=$2; shift 2 ;;
    --connect-timeout) needs "$1" $#; whole_number "$1" "$2"; timeout=$2; shift 2 ;;
    --retries) needs "$1" $#; whole_number "$1" "$2"; retries=$2; shift 2 ;;
    --joblog) needs "$1" $#; joblog=$2; shift 2 ;;
    --logs) needs "$1" $#; logs=$2; shift 2 ;;
    --demo) needs "$1" $#; demo=$2; shift 2 ;;
    --only-segment) needs "$1" $#; only=$2; shift 2 ;;
    --join-only) join_only=true; shift ;;
    --status) status_only=true; shift ;;
    -h|--help) sed -n '2,32p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) say "unknown option $1"; usage ;;
    *) [ -z "$out" ] || usage; out=$1; shift ;;
  esac
done
[ -n "$out" ] || usage
if [ "$segments" != 0 ] && [ "$segment_frames" != 0 ]; then say "give --segments or --segment-frames, not both"; exit 2; fi
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }

# One work folder per output, so that a second run of the same command goes on with it.
name=$(basename "$out" | tr -c 'A-Za-z0-9._\n-' '_')
[ -d "$(dirname "$out")" ] || { say "there is no folder $(dirname "$out") for $out"; exit 2; }
work=$(cd "$(dirname "$out")" && pwd)/.capture-farm.$name

# Whole numbers as ranges: "0-3 5 7-9".
ranges() {
  local text="" first="" last="" k
  for k in "$@" ""; do
    if [ -n "$k" ] && [ -n "$last" ] && [ "$k" = $((last + 1)) ]; then last=$k; continue; fi
    if [ -n "$first" ]; then
      if [ "$first" = "$last" ]; then text+=" $first"; else text+=" $first-$last"; fi
    fi
    first=$k last=$k
  done
  echo "${text# }"
}

# The frames of segment k of n, and whether seg-k holds them all.
segment_size() { echo $(( $3 * ($1 + 1) / $2 - $3 * $1 / $2 )); }
pngs_in() { find "$1" -maxdepth 1 -name '*.png' 2>/dev/null | wc -l; }
is_whole() { [ -d "$work/seg-$1" ] && [ "$(pngs_in "$work/seg-$1")" = "$(segment_size "$1" "$2" "$3")" ]; }

# The last line of a segment's log that says something: not a progress bar, not the farm's own.
last_word() { grep -v -e '^\[' -e '^capture-farm: try ' "$1" 2>/dev/null | sed '/^[[:space:]]*$/d' | tail -n 1 || true; }

if $status_only; then
  if [ ! -f "$work/plan" ]; then echo "capture-farm: no work is kept for $out"; exit 1; fi
  read -r frames segments <"$work/plan"
  have=() part=() none=()
  for k in $(seq 0 $((segments - 1))); do
    if is_whole "$k" "$segments" "$frames"; then have+=("$k")
    elif [ -d "$work/seg-$k.part" ]; then part+=("$k")
    else none+=("$k"); fi
  done
  echo "capture-farm: work for $out in $work"
  given=$(sed -n 2p "$work/stamp")
  echo "  ${given:-the default options}: $frames frames in $segments segments"
  echo "  whole: ${#have[@]} of $segments segments${have:+ ($(ranges "${have[@]}"))}"
  for k in "${part[@]}"; do
    echo "  segment $k drawn here up to $(pngs_in "$work/seg-$k.part") of $(segment_size "$k" "$segments" "$frames") frames"
  done
  [ ${#none[@]} = 0 ] || echo "  not drawn here: $(ranges "${none[@]}")"
  for k in "${part[@]}" "${none[@]}"; do
    why=$(last_word "$(cat "$work/logs-at" 2>/dev/null || echo "$work/logs")/seg-$k.log")
    [[ -z $why || $why == "demo: wrote "* ]] || echo "  segment $k's last try ended: $why"
  done
  exit 0
fi

command -v parallel >/dev/null || { say "needs GNU parallel (apt-get install parallel)"; exit 1; }
[ -x "$demo" ] || { say "no demo binary at $demo (build it, or give --demo)"; exit 1; }
demo=$(absolute "$demo")
if [ -n "$hosts" ]; then
  [ -r "$hosts" ] || { say "cannot read the hosts file $hosts"; exit 1; }
fi
if [ -n "$joblog" ]; then joblog=$(absolute "$joblog"); fi
if [ -n "$logs" ]; then mkdir -p "$logs" && logs=$(cd "$logs" && pwd); fi

# demo judges the options, the output and the join, and says how many frames there are, before
# any work.
check=$("$demo" --capture "$out" "${options[@]}" --join "$work/frames/%06d.png" --dry-run 2>&1) ||
  { say "${check#demo: }"; exit 2; }
frames=${check##* of }
[[ $frames =~ ^[0-9]+$ ]] || { say "$demo does not answer as demo does: $check"; exit 1; }
if [ "$segment_frames" != 0 ]; then segments=$(( (frames + segment_frames - 1) / segment_frames )); fi
if [ "$segments" = 0 ]; then
  if [ -n "$hosts" ]; then segments=$((4 * $(grep -cv '^[[:space:]]*\(#\|$\)' "$hosts"))); else segments=$(nproc); fi
  [ "$segments" -le "$frames" ] || segments=$frames
fi
if [ "$segments" -gt "$frames" ]; then
  say "$frames frames cannot make $segments segments"
  exit 2
fi
if [ -n "$only" ] && ! { [[ $only =~ ^[0-9]+$ ]] && [ "$only" -lt "$segments" ]; }; then
  say "--only-segment must be a whole number from 0 to $((segments - 1)), not \"$only\""
  exit 2
fi

# Each host line as GNU parallel reads it ([N/][ssh command] [user@]host, or ":"), its ssh given
# the connection timeout after the line's own options, which ssh lets win.
host_lines=() logins=()
if [ -n "$hosts" ]; then
  while read -r line; do
    [[ -n $line && $line != \#* ]] || continue
    count=""
    if [[ $line =~ ^([0-9]+/)(.*)$ ]]; then count=${BASH_REMATCH[1]} line=${BASH_REMATCH[2]}; fi
    line=$(sed 's/^[[:space:]]*//; s/[[:space:]]*$//' <<<"$line")
    if [ "$line" != ":" ]; then
      limits="-o ConnectTimeout=$timeout -o ServerAliveInterval=$timeout -o ServerAliveCountMax=3"
      if [[ $line == *" "* ]]; then line="${line% *} $limits ${line##* }"; else line="ssh $limits $line"; fi
    fi
    host_lines+=("$count$line") logins+=("$line")
  done <"$hosts"
  [ ${#host_lines[@]} -gt 0 ] || { say "the hosts file $hosts names no host"; exit 2; }
fi

# A host that does not answer, or lacks the demo, is named before anything is sent to it; all are
# asked at once, each for at most a few times the timeout.
remote=()
if [ ${#host_lines[@]} -gt 0 ] && [ -z "$only" ] && ! $join_only; then
  answers=$(mktemp -d)
  for i in "${!logins[@]}"; do
    timeout $((3 * timeout + 10)) parallel -q --nonall --sshlogin "${logins[$i]}" "$demo" --version \
      >"$answers/$i" 2>&1 </dev/null &
  done
  wait || true
  for i in "${!logins[@]}"; do
    reply=$(tr -s '\r\n' '  ' <"$answers/$i" | sed 's/ *$//')
    if [[ $reply != "demo "* ]]; then
      host=${logins[$i]##* }
      [ "$host" != ":" ] || host="this machine"
      rm -rf "$answers"
      if [[ -z $reply || $reply == *"timed out"* ]]; then
        say "$host did not answer within $timeout s (--connect-timeout)${reply:+: $reply}"
      else
        say "cannot run $demo on $host: $reply"
      fi
      exit 1
    fi
  done
  rm -rf "$answers"
  mkdir -p "$work"
  printf '%s\n' "${host_lines[@]}" >"$work/hosts.$$"
  # A job elsewhere draws in a folder of its own there, and its finished segment comes back; a
  # job on this machine (":") draws in the work folder itself.
  remote=(--sshloginfile "$work/hosts.$$")
  if printf '%s\n' "${host_lines[@]}" | grep -qv '^\([0-9]*/\)\?:$'; then
    remote+=(--workdir ... --return 'seg-{}' --cleanup)
  fi
fi

# Work for other options is dropped; the stamp is written whole, so that segments starting
# together on a batch system never take a half-written one for another's.
stamp=$(printf 'demo %s\n%s\nsegments %s' "$demo" "${options[*]}" "$segments")
if [ -f "$work/stamp" ] && [ "$(cat "$work/stamp")" != "$stamp" ]; then
  find "$work" -mindepth 1 -maxdepth 1 ! -name "hosts.$$" -exec rm -rf {} +
fi
mkdir -p "$work/logs"
echo "$stamp" >"$work/stamp.$$" && mv "$work/stamp.$$" "$work/stamp"
echo "$frames $segments" >"$work/plan.$$" && mv "$work/plan.$$" "$work/plan"
[ -z "$logs" ] || echo "$logs" >"$work/logs-at"
logs=${logs:-$work/logs}

# One segment, run by GNU parallel here or on a host: drawn under a temporary name and renamed
# when whole, so a killed try is redone, never taken for finished. Its first line names the host.
farm_segment() {
  local k=$1 n=$2 work=$3 demo=$4
  shift 4
  local host=${PARALLEL_SSHLOGIN:-:}
  if [ "$host" = ":" ]; then cd "$work" || return 1; host=$HOSTNAME; else host=${host##* }; fi
  echo "capture-farm: try on $host"
  rm -rf "seg-$k.part" "seg-$k"
  mkdir -p "seg-$k.part"
  local run=("$demo" --capture "seg-$k.part/%06d.png" "$@" --segment "$k/$n")
  if [ -z "${DISPLAY:-}" ]; then
    run=(xvfb-run -a -s "-screen 0 640x480x24" "${run[@]}")
  fi
  "${run[@]}" 2>&1 && mv "seg-$k.part" "seg-$k"
}
export -f farm_segment

# The tagged lines of every job become one log per segment and one line of progress; a try after
# a failure is said when it starts.
progress() {
  local started=$EPOCHREALTIME tag text drawn=0 finished=0 last="" step="" k
  declare -A at=() tries=() host=()
  while IFS=$'\t' read -r tag text; do
    if ! [[ $tag =~ ^[0-9]+$ ]]; then printf '%s\n' "$tag${text:+	$text}" >&2; continue; fi  # parallel's own
    if [[ $text == "capture-farm: try on "* ]]; then
      tries[$tag]=$(( ${tries[$tag]:-0} + 1 ))
      if [ "${tries[$tag]}" -gt 1 ] && [ ! -e "$work/stopping" ]; then
        local why
        why=$(last_word "$logs/seg-$tag.log")
        say "segment $tag failed${host[$tag]:+ on ${host[$tag]}}${why:+: $why}; trying again on ${text#capture-farm: try on } (try ${tries[$tag]} of $retries)"
      fi
      host[$tag]=${text#capture-farm: try on }
      at[$tag]=0
      text="capture-farm: try ${tries[$tag]} on ${host[$tag]}"
    fi
    printf '%s\n' "$text" >>"$logs/seg-$tag.log"
    if [[ $text =~ frame\ ([0-9]+)\ of ]]; then at[$tag]=${BASH_REMATCH[1]}; fi
    if [[ $text == "demo: wrote "* ]]; then finished=$((finished + 1)); fi
    drawn=0
    for k in "${!at[@]}"; do drawn=$((drawn + at[$k])); done
    local rate left
    read -r rate left < <(awk -v f="$drawn" -v t="$todo" -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN {
      s = b - a; l = f > 0 ? (t - f) * s / f : 0
      printf "%.1f %d:%02d\n", (s > 0 ? f / s : 0), l / 60, l % 60 }')
    line="$((finished + ready)) of $segments segments, frame $((drawn + done_before)) of $frames, $rate fps, $left left"
    if [ -t 2 ]; then printf '\rcapture-farm: %s ' "$line" >&2
    elif [ "$line" != "$last" ] && [[ $text == "demo: wrote "* || $((drawn * 10 / todo)) != "$step" ]]; then
      say "$line"
    fi
    step=$((drawn * 10 / todo)) last=$line
  done
  if [ -t 2 ]; then echo >&2; fi
}

# Interrupted (Ctrl-C, or SIGTERM to the farm): GNU parallel ends its jobs, and the work is kept.
interrupted=0
stop() {
  interrupted=$1
  touch "$work/stopping" 2>/dev/null || true
  if [ -s "$work/parallel.pid" ]; then kill -TERM "$(cat "$work/parallel.pid")" 2>/dev/null || true; fi
  sleep 0.2
  if [ -s "$work/parallel.pid" ]; then kill -TERM "$(cat "$work/parallel.pid")" 2>/dev/null || true; fi
}
trap 'stop 130' INT
trap 'stop 143' TERM
kept() {
  local whole=0 k
  for k in $(seq 0 $((segments - 1))); do if is_whole "$k" "$segments" "$frames"; then whole=$((whole + 1)); fi; done
  rm -f "$work/stopping"
  say "$1; $whole of $segments segments are whole. The work is kept in $work: the same command goes on from there"
}

cd "$work"
if [ -n "$only" ]; then
  if is_whole "$only" "$segments" "$frames"; then say "segment $only of $segments is already whole"; exit 0; fi
  set +e
  farm_segment "$only" "$segments" "$work" "$demo" "${options[@]}" > >(tee "$logs/seg-$only.log" >&2)
  status=$?
  wait
  exit $status
fi

# What is not whole in the work folder is drawn, whatever an earlier run's job log says.
missing=()
done_before=0
for k in $(seq 0 $((segments - 1))); do
  if is_whole "$k" "$segments" "$frames"; then done_before=$((done_before + $(segment_size "$k" "$segments" "$frames")))
  else missing+=("$k"); fi
done
ready=$((segments - ${#missing[@]})) todo=$((frames - done_before))
if [ ${#missing[@]} -gt 0 ] && ! $join_only && [ "$interrupted" = 0 ]; then
  if [ "$ready" -gt 0 ]; then say "$ready of $segments segments are whole already; drawing $(ranges "${missing[@]}")"; fi
  parallel_options=(-q --retries "$retries" --joblog "+${joblog:-$work/jobs.log}" --line-buffer --tagstring '{}')
  [ "$jobs" = 0 ] || parallel_options+=(-j "$jobs")
  draw_start=$EPOCHREALTIME
  rm -f parallel.pid
  set +e
  printf '%s\n' "${missing[@]}" |
    { echo "$BASHPID" >parallel.pid; exec parallel "${parallel_options[@]}" --env farm_segment "${remote[@]}" \
        farm_segment '{}' "$segments" "$work" "$demo" "${options[@]}"; } 2>&1 |
    progress &
  farm=$!
  # A trapped signal ends the wait early; the jobs' end is waited for all the same.
  until wait "$farm"; do kill -0 "$farm" 2>/dev/null || break; done
  # parallel may close its output before its last jobs have ended.
  [ ! -s parallel.pid ] || tail --pid="$(cat parallel.pid)" -f /dev/null
  set -e
  rm -f parallel.pid "$work/hosts.$$"
  draw_seconds=$(awk -v a="$draw_start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
fi
rm -f "$work/hosts.$$"
if [ "$interrupted" != 0 ]; then
  kept "interrupted"
  exit "$interrupted"
fi
for k in $(seq 0 $((segments - 1))); do
  if ! is_whole "$k" "$segments" "$frames"; then
    why=$(last_word "$logs/seg-$k.log")
    try=$(grep '^capture-farm: try ' "$logs/seg-$k.log" 2>/dev/null | tail -n 1 | sed 's/^capture-farm: //' || true)
    say "segment $k of $segments failed${try:+ ($try)}: ${why:-it did not run}"
    kept "the capture is not whole"
    exit 1
  fi
done

# The segments stay whole until the join has succeeded: the frames are links to them.
rm -rf frames
mkdir frames
for k in $(seq 0 $((segments - 1))); do
  find "seg-$k" -name '*.png' -exec ln -t frames {} +
done
cd "$OLDPWD"
say "joining $frames frames into $out"
set +e
joined=$("$demo" --capture "$out" "${options[@]}" --join "$work/frames/%06d.png" 2>&1)
status=$?
set -e
if [ "$status" != 0 ] && { [ "$interrupted" != 0 ] || [ "$status" -ge 128 ]; }; then
  kept "interrupted while joining"
  exit $((interrupted != 0 ? interrupted : status))
fi
if [ "$status" != 0 ]; then
  say "the join failed: $(tail -n 1 <<<"$joined")"
  kept "the join failed"
  exit 1
fi
grep -v -e '^demo: joined' -e '^\[' -e '^$' <<<"$joined" >&2 || true
rm -rf "$work"
rate=""
if [ -n "${draw_seconds:-}" ]; then
  rate=$(awk -v f="$todo" -v s="$draw_seconds" 'BEGIN { printf ", drawn at %.1f fps", (s > 0 ? f / s : 0) }')
fi
say "wrote $out ($frames frames in $segments segments$rate, ${SECONDS} s in all)"
