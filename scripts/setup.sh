#!/usr/bin/env bash
# Installs everything needed to build, run and test the demo on Debian 12 (or later).
# Idempotent: when every package is already present it only checks and returns.
set -euo pipefail
source "$(dirname "$0")/packages.sh"

packages=(
  build-essential cmake ninja-build pkg-config git
  libsfml-dev libglew-dev libcli11-dev libstb-dev libglu1-mesa-dev libgl1-mesa-dev libglm-dev googletest libgtest-dev
  xvfb xauth x11-utils x11-apps x11-xserver-utils mesa-utils libgl1-mesa-dri libx11-dev libxtst-dev libxss-dev systemd
  pulseaudio pulseaudio-utils libpulse0 libpulse-dev
  lame sox libsox-fmt-mp3 ffmpeg imagemagick apitrace assimp-utils python3-pil
  clang libclang-rt-dev
  emscripten chromium nodejs zip
)
# npm runs the page's tests' tools; a node of another origin may bring its own npm.
command -v npm >/dev/null 2>&1 || packages+=(npm)

mapfile -t missing < <(missing_packages "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  install_packages setup "${missing[@]}"
fi

# miniaudio's header package arrived in Debian 13. On an older release take the same
# architecture-independent package from the next release, through the mirror the system
# already uses, with a private apt state so the system's own lists stay untouched.
if [ ! -f /usr/include/miniaudio.h ]; then
  if apt-cache show libminiaudio-dev >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq libminiaudio-dev
  else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    private_apt "$work/apt" deb trixie
    apt-get "${apt_options[@]}" -qq update
    (cd "$work" && apt-get "${apt_options[@]}" -qq download libminiaudio-dev)
    as_root dpkg -i "$work"/libminiaudio-dev_*.deb
  fi
fi
echo "setup: all dependencies present"
