#!/usr/bin/env bash
# Renders FRAMES frames (default 20000) of the built-in clip through the host
# and the plug-in at a small size, with fades, sampling the host's resident
# memory every second. Memory must stay flat: at the end within 5 % or 4 MiB
# of what it was after the first tenth of the run.
# Usage: scripts/soak.sh [FRAMES]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
frames="${1:-20000}"
host="$root/build/host/brimtone"
if [ ! -x "$host" ] || [ ! -d "$root/build/Brimtone.bundle" ]; then
  "$root/scripts/build.sh"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/brimtone-soak-XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$host" render --frames "$frames" --size 96x64 --fade-in 30 --fade-out 30 \
  -o "$work/soak.mkv" >"$work/host.log" 2>&1 &
pid=$!

samples=()
start=$SECONDS
while kill -0 "$pid" 2>/dev/null; do
  rss="$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status" 2>/dev/null || true)"
  if [ -n "$rss" ]; then
    samples+=("$rss")
    echo "soak: $((SECONDS - start)) s  RSS ${rss} kB"
  fi
  sleep 1
done
status=0
wait "$pid" || status=$?
if [ "$status" -ne 0 ]; then
  echo "soak: the host failed (exit $status):"
  tail -5 "$work/host.log"
  exit 1
fi

count=${#samples[@]}
if [ "$count" -lt 3 ]; then
  echo "soak: only $count samples in $((SECONDS - start)) s; render more frames"
  exit 1
fi
early=${samples[$((count / 10))]}
last=${samples[$((count - 1))]}
peak=$(printf '%s\n' "${samples[@]}" | sort -n | tail -1)
growth=$((last - early))
limit=$((early / 20))
if [ "$limit" -lt 4096 ]; then limit=4096; fi
echo "soak: $frames frames in $((SECONDS - start)) s, $count samples; RSS after the first tenth" \
     "${early} kB, at the end ${last} kB (${growth} kB), peak ${peak} kB; output $(stat -c %s "$work/soak.mkv") bytes"
if [ "$growth" -gt "$limit" ]; then
  echo "soak: NOT FLAT: memory grew by ${growth} kB (limit ${limit} kB)"
  exit 1
fi
echo "soak: flat"
