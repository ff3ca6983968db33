#!/usr/bin/env bash
# Installs what Velmora needs, builds it and starts it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/deps.sh"
VELMORA_CMAKE_ARGS="-DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF" bash "$here/scripts/build.sh"
build="${VELMORA_BUILD_DIR:-$here/build}"

# Without a camera the test-pattern camera and test-tone microphone stand in, so a newcomer sees it work.
if ! compgen -G "/dev/video*" >/dev/null; then
  export VELMORA_VIRTUAL_DEVICES=1
  echo "run.sh: no camera found, starting with virtual devices (VELMORA_VIRTUAL_DEVICES=1)"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display. Start Velmora under a virtual X server instead:" >&2
  echo "    xvfb-run -a -s '-screen 0 1920x1080x24' $build/velmora" >&2
  exit 1
fi
exec "$build/velmora" "$@"
