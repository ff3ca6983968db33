#!/usr/bin/env bash
# Builds the fuzz targets with clang (address and undefined-behaviour sanitizers) in build-fuzz/ and runs
# one of them on a copy of its seed corpus. Extra arguments go to libFuzzer, e.g. -max_total_time=300.
#
#   fuzz/run.sh [settings|movie_boxes|property_list|session_marks] [libFuzzer options]   (default: settings)
#   fuzz/run.sh --build-only                                                             (all targets, no run)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELMORA_FUZZ_BUILD_DIR:-$here/build-fuzz}"
command -v clang++ >/dev/null || { echo "clang++ is needed (Debian: clang libclang-rt-14-dev)" >&2; exit 1; }
target=settings
build_only=0
case "${1:-}" in
  --build-only) build_only=1; shift ;;
  settings|movie_boxes|property_list|session_marks) target="$1"; shift ;;
esac
# Each target's seeds: real files of the kind it reads.
declare -A corpus=([settings]=settings [movie_boxes]=movies [property_list]=plist [session_marks]=marks)
declare -A max_len=([settings]=65536 [movie_boxes]=262144 [property_list]=65536 [session_marks]=65536)
flags="-fsanitize=address,undefined -fsanitize=fuzzer-no-link -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF -DVELMORA_FUZZ=ON >/dev/null
if (( build_only )); then
  cmake --build "$build" --target settings_fuzz movie_boxes_fuzz property_list_fuzz session_marks_fuzz \
    --parallel "${VELMORA_JOBS:-3}"
  exit 0
fi
cmake --build "$build" --target "${target}_fuzz" --parallel "${VELMORA_JOBS:-3}"
work="$build/corpus-$target"
mkdir -p "$work"
cp -n "$here/fuzz/corpus/${corpus[$target]}"/* "$work"/ 2>/dev/null || true
export QT_QPA_PLATFORM=offscreen
exec "$build/fuzz/${target}_fuzz" "$work" -max_len="${max_len[$target]}" "$@"
