#!/usr/bin/env bash
# Makes the pictures that the README and the manual show, from the built
# host, so that they stay true: docs/before.png (a generated scene of shapes
# and gradients, 800x450), docs/after.png (the same with the effect on a
# region of it) and docs/dialog.png (the settings dialog on that scene with
# the same settings, in the format a first run picks for its shape).
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

# A sky that darkens upwards, a sun, two rolling hills, a house and a tower:
# flat shapes for the threshold's edges, gradients for its levels.
sun='lt(hypot(X-0.74*W,Y-0.26*H),0.085*H)'
sky='lt(Y,H*(0.64+0.07*sin(X/W*9.4)))'
hill='lt(Y,H*(0.74+0.05*sin(X/W*5.1+1)))'
boxes=(x=120:y=190:w=150:h=130:color=0xb5523b x=150:y=225:w=32:h=32:color=0xf6e7a1
       x=205:y=225:w=32:h=32:color=0xf6e7a1 x=178:y=270:w=34:h=50:color=0x4a2c21
       x=420:y=120:w=60:h=200:color=0x2f3e46 x=432:y=140:w=14:h=18:color=0xffd166
       x=456:y=170:w=14:h=18:color=0xffd166)
filter="geq=r='if($sun,255,if($sky,70+120*Y/H,if($hill,40+40*Y/H,120+70*(Y/H-0.7))))'"
filter+=":g='if($sun,215,if($sky,130+90*Y/H,if($hill,110-40*Y/H,150-60*(Y/H-0.7))))'"
filter+=":b='if($sun,90,if($sky,235-60*Y/H,if($hill,70,60)))'"
for box in "${boxes[@]}"; do filter+=",drawbox=$box:t=fill"; done
ffmpeg -v error -y -f lavfi -i "color=c=black:s=800x450:d=1,format=rgb24" -vf "$filter" -frames:v 1 \
  "$work/scene.png"

"$brimtone" render "$work/scene.png" --frames 1 --fade-in 1 -q -y -o "$work/before%d.png"
mv "$work/before1.png" "$root/docs/before.png"
look=(--threshold 45 --region 0.1,0.2,0.62,0.9)
"$brimtone" thumbnail "$work/scene.png" "${look[@]}" -y -o "$root/docs/after.png"
rm -f "$root/docs/dialog.png"
"$brimtone" configure "$work/scene.png" "${look[@]}" --screenshot "$root/docs/dialog.png"
