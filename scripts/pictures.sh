#!/usr/bin/env bash
# Makes the pictures that the README and the manual show, from the built
# host, so that they stay true: docs/dialog.png (the settings dialog as a
# user first meets it), docs/before.png and docs/after.png (a frame of the
# built-in clip as it is, and with the effect on a part of it).
# Usage: scripts/pictures.sh [BRIMTONE]   (default build/host/brimtone);
# build again afterwards to typeset them into the manual.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
brimtone="${1:-$root/build/host/brimtone}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/config" "$root/docs" 2>/dev/null || true
# A fresh preferences folder: the defaults, as on a first run.
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen

"$brimtone" configure --at 40 --screenshot "$root/docs/dialog.png"
# The first frame of a fade-in is the frame as it is.
"$brimtone" render --frames 1 --fade-in 1 --size 240x160 -q -y -o "$work/before%d.png"
mv "$work/before1.png" "$root/docs/before.png"
"$brimtone" thumbnail --size 240x160 --threshold 40 --region 0.1,0.15,0.65,0.85 -y -o "$root/docs/after.png"
