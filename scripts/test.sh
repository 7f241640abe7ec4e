#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
# Usage: scripts/test.sh [--sanitize | --tsan]
#   --sanitize  the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   --tsan      the tests that run threads, under ThreadSanitizer (build-tsan/, only what they need)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen
if [ "${1:-}" = "--tsan" ]; then
  # Test program and the tests in it that start threads.
  threaded=(
    "frei0r_brimtone_frei0r_test:*OnSeveralThreads*"
    "platform_core_MacMemory_test:*Threads*"
    "host_Pipeline_test:*"
  )
  "$root/scripts/build.sh" --tsan "${threaded[@]%%:*}"
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp"
  for entry in "${threaded[@]}"; do
    "$root/build-tsan/tests/${entry%%:*}" --gtest_filter="${entry#*:}" --gtest_brief=1
  done
  exit 0
fi
"$root/scripts/build.sh" "$@"
build_dir="$root/build"
if [ "${1:-}" = "--sanitize" ]; then
  build_dir="$root/build-asan"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"
fi
ctest --test-dir "$build_dir" --output-on-failure -j2
