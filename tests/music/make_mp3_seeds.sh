#!/usr/bin/env bash
# Usage: make_mp3_seeds.sh DIR
# Writes the seed corpus of the MP3 fuzz target into DIR: short tones made with sox and encoded
# with lame, mono and stereo, 8 to 48 kHz, constant and variable bit rate, with and without ID3
# tags and the encoder's info frame, and one file cut off mid-frame.
set -euo pipefail
out=$1
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name rate channels lame-options
while read -r name rate channels options; do
  tones="sine 440"; [ "$channels" = 2 ] && tones="sine 440 sine 660"
  sox -q -n -r "$rate" -c "$channels" -b 16 "$work/$name.wav" synth 0.3 $tones gain -6
  # shellcheck disable=SC2086
  lame --quiet $options "$work/$name.wav" "$out/$name.mp3"
done <<'LIST'
mono8k-cbr 8000 1 -b 8
stereo8k-vbr 8000 2 -V 9
mono11k-vbr-id3v2 11025 1 -V 6 --add-id3v2 --tt seed --ta demo
stereo16k-cbr-id3v1 16000 2 -b 32 --id3v1-only --tt seed
mono22k-cbr-noinfo 22050 1 -b 32 -t
stereo24k-vbr-joint 24000 2 -V 4 -m j
mono32k-abr 32000 1 --abr 56
stereo44k-cbr-id3both 44100 2 -b 128 --add-id3v2 --tt seed --tc comment
stereo44k-vbr-noinfo 44100 2 -V 2 -t -m s
mono48k-cbr 48000 1 -b 64
stereo48k-vbr-id3v2 48000 2 -V 0 --id3v2-only --tt seed
LIST

# Cut off in the middle of a frame.
size=$(stat -c %s "$out/stereo44k-cbr-id3both.mp3")
head -c $((size / 2 + 7)) "$out/stereo44k-cbr-id3both.mp3" > "$out/truncated.mp3"
