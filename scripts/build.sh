#!/usr/bin/env bash
# Configures and builds Brimtone. Usage: scripts/build.sh [--sanitize]
# Plain builds go to build/, sanitizer builds (address + undefined) to build-asan/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$root/build"
sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then
  build_dir="$root/build-asan"
  sanitize=ON
fi
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build_dir" "${generator[@]}" -DBRIMTONE_SANITIZE=$sanitize
fi
cmake --build "$build_dir" -j2
