#!/usr/bin/env bash
# Configures and builds Brimtone. Usage: scripts/build.sh [--sanitize]
# Plain builds go to build/, sanitizer builds (address + undefined) to build-asan/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$root/build"
sanitize=OFF
bench=ON
if [ "${1:-}" = "--sanitize" ]; then
  build_dir="$root/build-asan"
  sanitize=ON
  bench=OFF  # timings under the sanitizers mean nothing; saves CI time
fi
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build_dir" "${generator[@]}" -DBRIMTONE_SANITIZE=$sanitize -DBRIMTONE_BENCH=$bench
fi
cmake --build "$build_dir" -j2
