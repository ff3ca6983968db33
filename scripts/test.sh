#!/usr/bin/env bash
# Installs what Velmora needs, builds it and runs every test (unit, gui, media). No display is needed.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/deps.sh"
VELMORA_CMAKE_ARGS="-DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=ON" bash "$here/scripts/build.sh"
build="${VELMORA_BUILD_DIR:-$here/build}"
export QT_QPA_PLATFORM=offscreen
cd "$build"
# Media tests record and encode in real time: they run two at a time so that a busy machine does not
# starve a recording; everything else runs on every core.
ctest --output-on-failure --parallel "$(nproc)" --label-exclude media "$@"
ctest --output-on-failure --parallel 2 --label-regex media "$@"
