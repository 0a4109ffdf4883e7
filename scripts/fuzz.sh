#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and runs each
# with its seeds: the MP3 decoder for FUZZ_SECONDS (default 60), the command-line parser for
# OPTIONS_FUZZ_SECONDS (default 30). Fails on any finding. An MP3 finding is kept in
# tests/music/fuzz-regressions/, which music_test replays, to be committed with the fix; a
# command line that fails is kept in build-fuzz/fuzz/options-artifacts/ and printed.
# The growing corpora stay in build-fuzz/fuzz/ between runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${FUZZ_SECONDS:-60}
options_seconds=${OPTIONS_FUZZ_SECONDS:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

work=build-fuzz/fuzz
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# fuzz NAME SECONDS SEED_FOLDER LIBFUZZER_OPTIONS...: runs build-fuzz/bin/NAME; prints its
# figures; leaves what it found in $work/NAME-artifacts and returns non-zero on a finding.
fuzz() {
  local name=$1 time=$2 seeds=$3
  shift 3
  local corpus=$work/$name-corpus artifacts=$work/$name-artifacts status=0
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  [ "$time" -gt 0 ] || return 0
  "build-fuzz/bin/$name" -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$@" "$corpus" "$seeds" 2>"$work/$name.log" || status=$?
  grep -E '^(stat::|Done|INFO: .*(corpus|files found))' "$work/$name.log" || true
  echo "fuzz: $name corpus $(find "$corpus" -type f | wc -l) inputs, $(du -sk "$corpus" | cut -f1) KiB"
  if [ "$status" -ne 0 ] || [ -n "$(find "$artifacts" -type f)" ]; then
    tail -n 60 "$work/$name.log" >&2
    return 1
  fi
}

status=0
if ! fuzz music_fuzz "$seconds" "$work/music-seeds" -max_len=16384; then
  status=1
  for f in "$work"/music_fuzz-artifacts/*; do
    [ -f "$f" ] || continue
    cp "$f" tests/music/fuzz-regressions/
    echo "fuzz: finding kept as tests/music/fuzz-regressions/$(basename "$f")" >&2
  done
fi

# The options test's command lines, each argument ended by a NUL.
seeds=$work/options-seeds
rm -rf "$seeds" && mkdir -p "$seeds"
n=0
while IFS= read -r line; do
  case "$line" in ''|'#'*) continue ;; esac
  n=$((n + 1))
  (set -f; printf '%s\0' $line) > "$seeds/$n"
done < tests/demo/player/options-seeds.txt
if ! fuzz options_fuzz "$options_seconds" "$seeds" -max_len=512; then
  status=1
  for f in "$work"/options_fuzz-artifacts/*; do
    [ -f "$f" ] && { echo "fuzz: command line that failed (arguments NUL-separated), kept as $f:" >&2; od -c "$f" >&2; }
  done
fi
exit $status
