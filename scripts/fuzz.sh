#!/usr/bin/env bash
# Builds the MP3 fuzz target (clang, AddressSanitizer + UndefinedBehaviorSanitizer) with its seed
# corpus and runs it for FUZZ_SECONDS (default 60). Fails on any finding: the input is then kept
# in tests/music/fuzz-regressions/, which music_test replays, to be committed with the fix.
# The growing corpus stays in build-fuzz/fuzz/music-corpus between runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
[ "$seconds" -gt 0 ] || exit 0

work=build-fuzz/fuzz
corpus=$work/music-corpus
artifacts=$work/music-artifacts
rm -rf "$artifacts"
mkdir -p "$corpus" "$artifacts"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
build-fuzz/bin/music_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$work/music-seeds" \
  2>"$work/music-fuzz.log" || status=$?
grep -E '^(stat::|Done|INFO: .*(corpus|files found))' "$work/music-fuzz.log" || true
echo "fuzz: corpus $(find "$corpus" -type f | wc -l) inputs, $(du -sk "$corpus" | cut -f1) KiB"

findings=$(find "$artifacts" -type f)
if [ "$status" -ne 0 ] || [ -n "$findings" ]; then
  tail -n 60 "$work/music-fuzz.log" >&2
  for f in $findings; do
    cp "$f" tests/music/fuzz-regressions/
    echo "fuzz: finding kept as tests/music/fuzz-regressions/$(basename "$f")" >&2
  done
  exit 1
fi
