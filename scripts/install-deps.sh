#!/usr/bin/env bash
# Installs every Debian package that building, running, testing and
# benchmarking Framewhisk needs. Safe to run again: it asks apt only when a
# package is missing.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config make git ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  libsqlite3-dev libjpeg62-turbo-dev libpng-dev libgif-dev libcurl4-openssl-dev
  libsdl2-dev  # the sound device of playback
  libgtest-dev googletest
  # running, tests and benchmarks
  ffmpeg sqlite3 xdg-utils xvfb xauth imagemagick mediainfo valgrind binutils
  gstreamer1.0-plugins-base-apps gstreamer1.0-libav gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad  # h264parse / h265parse: GStreamer reads avc3 and hev1 through them
  fonts-dejavu-core python3
  pulseaudio pulseaudio-utils  # playback tests: a sound server of their own with a null sink, recorded
  # checks of the installed desktop files, and the .deb's dependencies
  desktop-file-utils appstream dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
