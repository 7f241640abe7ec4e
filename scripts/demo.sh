#!/usr/bin/env bash
# Installs what is missing, builds, and renders the built-in clip through the
# plug-in with fades, into out/brimtone-demo.mp4 (or the file given).
# The effect uses your saved configuration, or the defaults when you have none.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
output="${1:-$root/out/brimtone-demo.mp4}"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
mkdir -p "$(dirname "$output")"
"$root/build/host/brimtone" render -y --fade-in 30 --fade-out 30 -o "$output"
echo "demo: $output"
