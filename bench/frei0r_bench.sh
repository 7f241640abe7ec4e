#!/usr/bin/env bash
# brimtone.so against Debian's threshold0r and twolay0r in Debian's ffmpeg:
# 200 frames of 1920x1080 testsrc2 converted to RGBA, alone and through each
# filter. Prints each filter's time over the conversion alone (best of
# REPEATS runs) and brimtone's ratio to threshold0r's; the target is 0.5 or less.
#
# Usage: bench/frei0r_bench.sh [BUILD_DIR]   (default: build; brimtone.so is
# built there when missing). REPEATS=9 bench/frei0r_bench.sh for more runs (default 5).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$(realpath -m "${1:-$root/build}")"
repeats="${REPEATS:-5}"
frames=200

command -v ffmpeg >/dev/null || { echo "frei0r_bench: ffmpeg is not installed (apt-get install ffmpeg)" >&2; exit 1; }
plugin="$build_dir/frei0r/brimtone.so"
if [ ! -f "$plugin" ]; then
  [ -f "$build_dir/CMakeCache.txt" ] || { echo "frei0r_bench: no build in $build_dir (run scripts/build.sh)" >&2; exit 1; }
  cmake --build "$build_dir" -j2 --target brimtone_frei0r
fi
debian_dir=""
for dir in /usr/lib/x86_64-linux-gnu/frei0r-1 /usr/lib/frei0r-1 /usr/lib64/frei0r-1 /usr/local/lib/frei0r-1; do
  if [ -f "$dir/threshold0r.so" ]; then debian_dir="$dir"; break; fi
done
[ -n "$debian_dir" ] || { echo "frei0r_bench: threshold0r.so not found (apt-get install frei0r-plugins)" >&2; exit 1; }
export FREI0R_PATH="$(dirname "$plugin"):$debian_dir"
# No saved configuration takes part: every brimtone setting is given.
XDG_CONFIG_HOME="$(mktemp -d)"
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT

# Real seconds of one ffmpeg run with the filter chain after the source.
run_once() {
  ffmpeg -nostdin -hide_banner -benchmark -f lavfi -i "testsrc2=size=1920x1080:rate=25" \
    -frames:v "$frames" -vf "$1" -f null - 2>&1 |
    sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p' | tail -n 1
}

names=(format-only threshold0r twolay0r brimtone)
chains=("format=rgba"
        "format=rgba,frei0r=threshold0r:0.5"
        "format=rgba,frei0r=twolay0r"
        "format=rgba,frei0r=brimtone:0.5|0x0000ff|0xffffff|0|0|1|1")
# Rounds take every chain in turn, so a busy moment of the machine hits them
# alike; the best time of each is kept.
declare -A seconds
for _ in $(seq "$repeats"); do
  for i in "${!names[@]}"; do
    t="$(run_once "${chains[$i]}")"
    [ -n "$t" ] || { echo "frei0r_bench: ffmpeg failed on ${chains[$i]}" >&2; exit 1; }
    seconds[${names[$i]}]="$(awk -v a="$t" -v b="${seconds[${names[$i]}]:-}" 'BEGIN { print (b == "" || a < b) ? a : b }')"
  done
done

echo "ffmpeg, $frames frames of 1920x1080 testsrc2, best of $repeats runs"
base="${seconds[format-only]}"
printf '%-12s %8.3f s\n' format-only "$base"
for name in threshold0r twolay0r brimtone; do
  awk -v n="$name" -v t="${seconds[$name]}" -v b="$base" -v f="$frames" \
    'BEGIN { printf "%-12s %8.3f s   added %7.3f s   %6.2f ms/frame\n", n, t, t - b, (t - b) * 1000 / f }'
done
awk -v b="$base" -v br="${seconds[brimtone]}" -v th="${seconds[threshold0r]}" 'BEGIN {
  added = th - b
  if (added <= 0) { print "brimtone / threshold0r: threshold0r added no measurable time"; exit }
  ratio = (br - b) / added
  printf "brimtone / threshold0r added time: %.2f (target <= 0.50: %s)\n", ratio, ratio <= 0.5 ? "met" : "missed"
}'
