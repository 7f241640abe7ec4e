#!/usr/bin/env bash
# Fails when any of the given programs or libraries loads a Qt library.
# Usage: scripts/without-qt.sh FILE...
set -euo pipefail
status=0
for file in "$@"; do
  libraries="$(ldd "$file")"
  if grep -q 'libQt' <<<"$libraries"; then
    echo "$file loads Qt:"
    grep 'libQt' <<<"$libraries"
    status=1
  fi
done
exit $status
