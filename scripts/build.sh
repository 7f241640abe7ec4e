#!/usr/bin/env bash
# Configures and builds Brimtone. Usage: scripts/build.sh [--sanitize | --tsan [TARGET...]]
# Plain builds go to build/, sanitizer builds (address + undefined) to build-asan/,
# ThreadSanitizer builds to build-tsan/ (only the TARGETs named, when given).
# Warnings are errors here; a plain cmake build (a distribution's) only warns.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$root/build"
options=(-DBRIMTONE_SANITIZE=OFF -DBRIMTONE_BENCH=ON)
targets=()
case "${1:-}" in
  --sanitize)
    build_dir="$root/build-asan"
    # Timings under the sanitizers mean nothing; leaving the benchmarks out saves CI time.
    options=(-DBRIMTONE_SANITIZE=ON -DBRIMTONE_BENCH=OFF)
    ;;
  --tsan)
    build_dir="$root/build-tsan"
    options=(-DBRIMTONE_TSAN=ON -DBRIMTONE_BENCH=OFF)
    shift
    for target in "$@"; do targets+=(--target "$target"); done
    ;;
esac
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build_dir" "${generator[@]}" "${options[@]}" -DBRIMTONE_WERROR=ON
elif ! grep -q '^BRIMTONE_WERROR:BOOL=ON$' "$build_dir/CMakeCache.txt"; then
  cmake -B "$build_dir" -DBRIMTONE_WERROR=ON  # a tree configured before the option existed
fi
cmake --build "$build_dir" -j2 "${targets[@]}"
