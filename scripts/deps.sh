#!/usr/bin/env bash
# Installs every Debian package Velmora needs to build, run and test.
# Idempotent: packages already present are left alone; the package lists are refreshed once per run.
set -euo pipefail

PACKAGES=(
  # build, tests, benchmarks
  build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  # Qt 6: core, D-Bus, widgets, gui, test, multimedia
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6opengl6-dev
  # FFmpeg libraries
  libavdevice-dev libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavfilter-dev libavutil-dev
  # hot-plug, JSON, zip, property lists
  libudev-dev libjansson-dev libminizip-dev zlib1g-dev libplist-dev
  # the check that every FFmpeg result is looked at
  clang-tidy
  # validation in tests; a private D-Bus for the power tests; a display for running without one; the VNC
  # platform through which the termination tests press keys
  ffmpeg python3 unzip dbus dbus-x11 xvfb xauth qt6-qpa-plugins
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "deps.sh: run as root or install sudo" >&2; exit 1
  fi
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "deps.sh: all packages present"
  exit 0
fi

echo "deps.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
