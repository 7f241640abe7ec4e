#!/usr/bin/env bash
# Builds the fuzz targets (build-fuzz/, clang with libFuzzer, ASan and UBSan)
# and runs each for the given number of seconds on a copy of its seed corpus,
# so the repository stays as it is. Prints each target's executions; exits
# non-zero when a target crashes (the crashing input is kept and named).
# Usage: fuzz/run.sh [SECONDS]   (default 60)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build_dir="$root/build-fuzz"
targets=(fuzz_resource_file fuzz_saved_config fuzz_regions fuzz_plugin_entry fuzz_strings)

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" "${generator[@]}" \
    -DBRIMTONE_FUZZ=ON -DBRIMTONE_BENCH=OFF -DBRIMTONE_WERROR=ON \
    -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
fi
cmake --build "$build_dir" -j2 --target "${targets[@]}"

work="$(mktemp -d "${TMPDIR:-/tmp}/brimtone-fuzz-XXXXXX")"
trap 'rm -rf "$work"' EXIT
# The targets' preferences folders; tmpfs when there is one, as they write files.
if [ -w /dev/shm ]; then
  export BRIMTONE_FUZZ_TMP="$(mktemp -d /dev/shm/brimtone-fuzz-XXXXXX)"
  trap 'rm -rf "$work" "$BRIMTONE_FUZZ_TMP"' EXIT
else
  export BRIMTONE_FUZZ_TMP="$work"
fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
for target in "${targets[@]}"; do
  cp -r "$root/fuzz/corpus/$target" "$work/$target"
  log="$work/$target.log"
  status=0
  "$build_dir/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$root/build-fuzz/$target-" "$work/$target" >"$log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $target CRASHED after ${runs:-?} executions (exit $status)"
    grep -E "ERROR|check failed|runtime error|SUMMARY|Test unit written" "$log" | head -20 || true
    failed+=("$target")
  else
    echo "fuzz: $target ${runs:-?} executions in ${seconds} s, no crash"
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: crashes in ${failed[*]} (inputs in $build_dir)"
  exit 1
fi
