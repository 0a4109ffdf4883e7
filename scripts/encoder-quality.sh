#!/usr/bin/env bash
# Usage: scripts/encoder-quality.sh [BUILD_DIR]    (default: build; needs a display: scripts/services.sh)
# The capture's encoder settings against others, by quality for time (a benchmark, not a test).
# Draws the frames of 40 to 42 s at 1280x720 and 30 fps once (exact PNGs), makes them into the
# capture's planes (`demo --capture --join` of them to raw Y'CbCr is what the capture sends), then
# encodes those planes with each setting and prints per setting: ffmpeg's CPU time per frame
# (user and system, -benchmark), the file's size, PSNR and SSIM of its Y' plane against the planes
# it was given (what the encoder kept), of its RGB decoding against the exact frames (what the
# viewer sees), and of its RGB decoding against the file of the settings before (libx264 medium
# CRF 16, or libvpx-vp9 good speed 4 CRF 24, from RGBA converted by ffmpeg's scaler, untagged).
#   ENCODER_SETTINGS="NAME|ARGS;..."  the settings to try (default: those below; "+4 tools" are
#                                     deblocking, adaptive quantisation, 8x8 transforms and intra
#                                     partitions, which the ultrafast preset leaves out)
#   ENCODER_SECONDS=N                 the length, from 40 s (default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${ENCODER_SECONDS:-2}
frames=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 30 + 0.5 }')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
size=1280x720
range=(--size "$size" --fps 30 --from 40 --to "$(awk -v s="$seconds" 'BEGIN { print 40 + s }')")

mkdir "$work/frames"
(cd "$build/bin" && ./demo --capture "$work/frames/%04d.png" "${range[@]}" 2>/dev/null)
ffmpeg -nostdin -v error -framerate 30 -i "$work/frames/%04d.png" -pix_fmt rgb24 -f rawvideo "$work/source.rgb"
ffmpeg -nostdin -v error -framerate 30 -i "$work/frames/%04d.png" -vf vflip -pix_fmt rgba -f rawvideo "$work/source.rgba"
# The planes the capture sends: its own conversion, through an encoder that keeps them as they are.
printf '#!/bin/sh\nfor last; do :; done\nexec %q -v error -y -f rawvideo -pix_fmt yuv420p -s %s -i pipe:0 -f rawvideo "${last#file:}"\n' \
  "$(command -v ffmpeg)" "$size" >"$work/keep" && chmod +x "$work/keep"
mkdir "$work/bin" && ln -s "$work/keep" "$work/bin/ffmpeg"
(cd "$build/bin" && PATH="$work/bin:$PATH" ./demo --capture "$work/planes.mkv" "${range[@]}" \
  --join "$work/frames/%04d.png" 2>/dev/null)
mv "$work/planes.mkv" "$work/planes.yuv"

raw_planes=(-f rawvideo -pix_fmt yuv420p -s "$size" -framerate 30 -i "$work/planes.yuv")
raw_source=(-f rawvideo -pix_fmt rgb24 -s "$size" -framerate 30 -i "$work/source.rgb")
tags=(-color_range tv -colorspace bt709 -color_primaries bt709 -color_trc bt709 -chroma_sample_location center)
# compare MATRIX INPUTS...: "PSNR SSIM" of the first input (decoded with MATRIX) against the second.
compare() {
  local matrix=$1
  shift
  ffmpeg -nostdin -hide_banner "$@" -lavfi "[0:v]settb=1/30,setpts=N,scale=in_color_matrix=$matrix:in_range=tv,format=gbrp,split[a1][a2];
    [1:v]settb=1/30,setpts=N,format=gbrp,split[b1][b2];[a1][b1]psnr;[a2][b2]ssim" -f null - 2>&1 |
    awk '/PSNR/ { for (i = 1; i <= NF; i++) if ($i ~ /^average:/) p = substr($i, 9) }
         /SSIM/ { for (i = 1; i <= NF; i++) if ($i ~ /^All:/) s = substr($i, 5) }
         END { printf "%.2f dB %.4f", p, s }'
}
# luma FILE PLANES_INPUT...: "PSNR SSIM" of the Y' plane of FILE against the planes given.
luma() {
  local file=$1
  shift
  ffmpeg -nostdin -hide_banner -i "$file" "$@" -lavfi "[0:v]settb=1/30,setpts=N,extractplanes=y,split[a1][a2];
    [1:v]settb=1/30,setpts=N,extractplanes=y,split[b1][b2];[a1][b1]psnr;[a2][b2]ssim" -f null - 2>&1 |
    awk '/PSNR/ { for (i = 1; i <= NF; i++) if ($i ~ /^average:/) p = substr($i, 9) }
         /SSIM/ { for (i = 1; i <= NF; i++) if ($i ~ /^All:/) s = substr($i, 5) }
         END { printf "%.2f dB %.4f", p, s }'
}
cpu() { awk -v n="$frames" '/utime/ { u = substr($2, 7) + 0; s = substr($3, 7) + 0; printf "%.1f", (u + s) * 1000 / n }'; }

# The settings before, from RGBA through ffmpeg's own conversion, as the capture sent them.
before() { # before EXTENSION ARGS...
  local out=$work/before.$1
  shift
  ffmpeg -nostdin -hide_banner -benchmark -f rawvideo -pix_fmt rgba -s "$size" -framerate 30 -i "$work/source.rgba" -vf vflip \
    "$@" -pix_fmt yuv420p -fflags +bitexact -y "$out" 2>&1 | cpu
}
printf '%-44s %9s %10s %20s %20s %20s\n' setting "CPU ms" bytes "Y' vs its input" "RGB vs the frames" "RGB vs before"
for ext in mp4 webm; do
  if [ "$ext" = mp4 ]; then
    t=$(before mp4 -c:v libx264 -preset medium -crf 16)
    name="before: libx264 medium crf 16 (mp4, mkv)"
  else
    t=$(before webm -c:v libvpx-vp9 -crf 24 -b:v 0 -row-mt 1 -deadline good -cpu-used 4)
    name="before: libvpx-vp9 good 4 crf 24 (webm)"
  fi
  ffmpeg -nostdin -v error -f rawvideo -pix_fmt rgb24 -s "$size" -i "$work/source.rgb" -pix_fmt yuv420p -f rawvideo -y "$work/before-planes.yuv"
  printf '%-44s %9s %10s %20s %20s %20s\n' "$name" "$t" "$(stat -c %s "$work/before.$ext")" \
    "$(luma "$work/before.$ext" -f rawvideo -pix_fmt yuv420p -s "$size" -framerate 30 -i "$work/before-planes.yuv")" \
    "$(compare bt601 -i "$work/before.$ext" "${raw_source[@]}")" "-"
done

default_settings="libx264 ultrafast crf 16|-c:v libx264 -preset ultrafast -crf 16
libx264 ultrafast crf 16, deblock, aq|-c:v libx264 -preset ultrafast -crf 16 -x264-params deblock=1:aq-mode=1
libx264 ultrafast crf 16 +4 tools (chosen)|-c:v libx264 -preset ultrafast -crf 16 -x264-params deblock=1:aq-mode=1:8x8dct=1:partitions=i8x8,i4x4
libx264 superfast crf 16|-c:v libx264 -preset superfast -crf 16
libx264 veryfast crf 16|-c:v libx264 -preset veryfast -crf 16
libx264 medium crf 16|-c:v libx264 -preset medium -crf 16
libvpx-vp9 realtime 8 crf 18 (chosen)|-c:v libvpx-vp9 -crf 18 -b:v 0 -row-mt 1 -deadline realtime -cpu-used 8
libvpx-vp9 good 4 crf 24|-c:v libvpx-vp9 -crf 24 -b:v 0 -row-mt 1 -deadline good -cpu-used 4"
while IFS='|' read -r name arguments; do
  [ -n "$name" ] || continue
  ext=mp4
  [[ $arguments == *libvpx* ]] && ext=webm
  read -ra words <<<"$arguments"
  t=$(ffmpeg -nostdin -hide_banner -benchmark "${raw_planes[@]}" "${tags[@]}" "${words[@]}" -pix_fmt yuv420p -fflags +bitexact \
    -y "$work/setting.$ext" 2>&1 | cpu)
  printf '%-44s %9s %10s %20s %20s %20s\n' "$name" "$t" "$(stat -c %s "$work/setting.$ext")" \
    "$(luma "$work/setting.$ext" "${raw_planes[@]}")" "$(compare bt709 -i "$work/setting.$ext" "${raw_source[@]}")" \
    "$(compare bt709 -i "$work/setting.$ext" -i "$work/before.$ext")"
done < <(tr ';' '\n' <<<"${ENCODER_SETTINGS:-$default_settings}")
