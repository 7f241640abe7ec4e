#!/usr/bin/env bash
# Installs every Debian package that Brimtone needs to build, test and run.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libpixman-1-dev
  qt6-base-dev qt6-tools-dev libqt6uitools6 libqt6opengl6-dev qt6-qpa-plugins libgl-dev libxcb1-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  ffmpeg
  g++-multilib
  groff ghostscript
  clang libclang-rt-14-dev
  frei0r-plugins frei0r-plugins-dev melt
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  shotcut qmlscene libxml2-utils
  libobs-dev obs-studio xvfb python3-websockets iproute2
  debhelper lintian man-db bash-completion
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages are installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
