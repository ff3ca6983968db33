#!/usr/bin/env bash
# Builds the settings fuzzer with clang (address and undefined-behaviour sanitizers) in build-fuzz/
# and runs it on a copy of the seed corpus. Extra arguments go to libFuzzer, e.g. -max_total_time=300.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELMORA_FUZZ_BUILD_DIR:-$here/build-fuzz}"
command -v clang++ >/dev/null || { echo "clang++ is needed (Debian: clang libclang-rt-14-dev)" >&2; exit 1; }
flags="-fsanitize=address,undefined -fsanitize=fuzzer-no-link -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF -DVELMORA_FUZZ=ON >/dev/null
cmake --build "$build" --target settings_fuzz --parallel "${VELMORA_JOBS:-3}"
work="$build/corpus"
mkdir -p "$work"
cp -n "$here"/fuzz/corpus/settings/* "$work"/ 2>/dev/null || true
export QT_QPA_PLATFORM=offscreen
exec "$build/fuzz/settings_fuzz" "$work" -max_len=65536 "$@"
