#!/usr/bin/env bash
# Installs what the demo needs on Debian 12 (or later), in two sets:
#   scripts/setup.sh        what building and running it need (scripts/run.sh)
#   scripts/setup.sh test   that and what testing needs: the tests' tools, the page's browser
#                           and compiler, the packages' and the fuzzers' (scripts/test.sh)
# Idempotent: when every package is already present it only checks and returns.
set -euo pipefail
source "$(dirname "$0")/packages.sh"

# Building; an X screen with Mesa's software OpenGL (llvmpipe, and zink over lavapipe, its
# faster exact path) and a sound server, where there is no display; ffmpeg for the capture.
packages=(
  build-essential cmake ninja-build pkg-config
  libsfml-dev libglew-dev libcli11-dev libstb-dev libglu1-mesa-dev libgl1-mesa-dev libglm-dev libx11-dev libxdamage-dev lame
  libdbus-1-dev
  xvfb xauth x11-utils libgl1-mesa-dri mesa-vulkan-drivers
  pulseaudio pulseaudio-utils libpulse0
  ffmpeg
)
case "${1:-run}" in
  run) ;;
  test)
    packages+=(
      git googletest libgtest-dev x11-apps x11-xserver-utils mesa-utils libxtst-dev libxss-dev libpulse-dev glslang-tools systemd
      sox libsox-fmt-mp3 imagemagick apitrace assimp-utils python3-pil
      clang libclang-rt-dev
      emscripten chromium nodejs zip librsvg2-bin
      parallel openssh-client openssh-server rsync
      dbus-daemon python3-dbus python3-gi
    )
    # npm runs the page's tests' tools; a node of another origin may bring its own npm.
    command -v npm >/dev/null 2>&1 || packages+=(npm)
    ;;
  *) echo "usage: scripts/setup.sh [run|test]" >&2; exit 2 ;;
esac

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
