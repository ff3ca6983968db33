#!/usr/bin/env bash
# Installs what Velmora needs, builds it and runs every test (unit, gui, media). No display is needed.
#
#   scripts/test.sh               the normal build in build/
#   scripts/test.sh --sanitize    the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer,
#                                 built in build-sanitize/ (any error fails the test that met it;
#                                 executables the tests start run under the same options)
#   scripts/test.sh --tsan        the whole suite under ThreadSanitizer, built in build-tsan/, with the
#                                 suppressions of tests/tsan.supp (any report fails the test that met it)
# Further arguments go to ctest, e.g. -R PlaybackWindow. VELMORA_JOBS limits the build's jobs.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitize=0
tsan=0
if [[ "${1:-}" == "--sanitize" ]]; then
  sanitize=1
  shift
elif [[ "${1:-}" == "--tsan" ]]; then
  tsan=1
  shift
fi
bash "$here/scripts/deps.sh"
args="-DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=ON"
# A sanitized build has a folder of its own and no benchmarks. CMake takes the flags when it first
# configures the folder.
sanitized_build() {
  export VELMORA_BUILD_DIR="${VELMORA_BUILD_DIR:-$here/$1}"
  export CFLAGS="$2" CXXFLAGS="$2" LDFLAGS="$3"
  args="-DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=OFF"
}
if (( sanitize )); then
  sanitized_build build-sanitize "-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
    "-fsanitize=address,undefined"
  # Leaks are left out: Qt, fontconfig and the GPU-less platform plugins keep caches for the whole run.
  # Velmora installs its own fatal-signal handler (it writes the crash report); the sanitizer lets it.
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:allow_user_segv_handler=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
elif (( tsan )); then
  sanitized_build build-tsan "-fsanitize=thread -g" "-fsanitize=thread"
  export TSAN_OPTIONS="${TSAN_OPTIONS:-suppressions=$here/tests/tsan.supp ignore_noninstrumented_modules=1 halt_on_error=1 second_deadlock_stack=1}"
fi
VELMORA_CMAKE_ARGS="$args" bash "$here/scripts/build.sh"
build="${VELMORA_BUILD_DIR:-$here/build}"
# Under a sanitizer every process writes its reports into one folder (the sanitizers add the pid to the
# name), so that a report of a process a test started fails the run even where that test does not look
# at how the process ended.
reports=""
if (( sanitize || tsan )); then
  reports="$build/sanitizer-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
  if (( sanitize )); then
    export ASAN_OPTIONS="$ASAN_OPTIONS:log_path=$reports/asan" UBSAN_OPTIONS="$UBSAN_OPTIONS:log_path=$reports/ubsan"
  else
    export TSAN_OPTIONS="$TSAN_OPTIONS log_path=$reports/tsan"
  fi
fi
# Every FFmpeg result that can report an error is looked at (.clang-tidy lists the functions).
tidy="$(command -v clang-tidy-14 || command -v clang-tidy || true)"
if [[ -n "$tidy" ]]; then
  (cd "$here" && git ls-files 'platform/media/*.cpp') |
    (cd "$here" && xargs -P "$(nproc)" -n 4 "$tidy" -p "$build" --quiet 2>/dev/null) ||
    { echo "test.sh: clang-tidy found an FFmpeg result that is not looked at" >&2; exit 1; }
else
  echo "test.sh: clang-tidy is not installed: the FFmpeg result check is skipped" >&2
fi
export QT_QPA_PLATFORM=offscreen
cd "$build"
# Media tests record and encode in real time: they run two at a time so that a busy machine does not
# starve a recording; everything else runs on every core.
status=0
ctest --output-on-failure --parallel "${VELMORA_TEST_JOBS:-$(nproc)}" --label-exclude media "$@" || status=$?
ctest --output-on-failure --parallel 2 --label-regex media "$@" || status=$?
if [[ -n "$reports" ]]; then
  found=0
  for f in "$reports"/*; do
    [[ -f "$f" ]] || continue
    echo "test.sh: sanitizer output of a process: $f" >&2
    cat "$f" >&2
    # Every report ends in a summary line; anything else (a note of the runtime) is shown, not counted.
    if grep -q '^SUMMARY: ' "$f"; then found=1; fi
  done
  if (( found )); then
    echo "test.sh: a sanitizer reported an error (see above)" >&2
    status=1
  fi
fi
exit "$status"
