#!/usr/bin/env bash
# Makes docs/obs.png, the README's picture of OBS Studio with the Brimtone
# filter: OBS (Debian's obs-studio) under Xvfb, a scene showing a frame of
# the built-in clip, the filter added through obs-websocket and its
# properties open in OBS's filters window, the screen grabbed by ffmpeg.
# The module comes from the build, through the plug-in folder OBS reads in
# its settings folder, so nothing needs installing.
# Usage: scripts/obs-picture.sh [BUILD_DIR]   (default build/; as root, for unshare -n)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
if [ -z "${BRIMTONE_OBS_NETNS:-}" ]; then
  exec env BRIMTONE_OBS_NETNS=1 unshare -n "$0" "$build"
fi
ip link set lo up
work="$(mktemp -d)"
# shellcheck source=tests/install/obs_studio.sh
source "$root/tests/install/obs_studio.sh"
trap 'obs_studio_stop; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"

# The first frame of a fade-in is the frame as it is.
"$build/host/brimtone" render --frames 1 --fade-in 1 --size 640x360 -q -y -o "$work/picture%d.png"
plugin="$work/config/obs-studio/plugins/brimtone"
mkdir -p "$plugin/bin/64bit"
cp "$build/obs/obs-plugins/brimtone.so" "$plugin/bin/64bit/"
cp -r "$root/obs/data" "$plugin/data"

grab() {
  ffmpeg -nostdin -loglevel error -f x11grab -draw_mouse 0 -video_size 1280x800 -i "$DISPLAY" -frames:v 1 -y "$1"
}
# Whether the screen shows more than the pointer.
drawn() {
  grab "$work/screen.png"
  [ "$(ffmpeg -nostdin -loglevel error -i "$work/screen.png" -vf "crop=100:100:0:0" -f rawvideo -pix_fmt gray - |
       tr -d '\0' | wc -c)" -gt 0 ]
}

password="$(head -c 12 /dev/urandom | base64 | tr -d '/+=')"
obs_studio_start "$work" "$work/picture1.png" "$password"
"$root/tests/install/obs_websocket.py" --password "$password" '[
  {"requestType": "CreateSourceFilter", "requestData": {"sourceName": "Picture", "filterName": "Brimtone",
   "filterKind": "brimtone_filter", "filterSettings": {"threshold": 65, "left": 10, "top": 15, "right": 65,
   "bottom": 85}}}
]' >/dev/null
# OBS shows its window a few seconds after its server starts.
for _ in $(seq 60); do drawn && break; sleep 1; done
"$root/tests/install/obs_websocket.py" --password "$password" \
  '[{"requestType": "OpenInputFiltersDialog", "requestData": {"inputName": "Picture"}}]' >/dev/null
# The filters window draws its preview with the software renderer.
sleep 5
# OBS's main window, without the empty rest of the screen.
grab "$work/screen.png"
ffmpeg -nostdin -loglevel error -i "$work/screen.png" -vf crop=1080:730:0:0 -y "$root/docs/obs.png"
echo "obs-picture: $root/docs/obs.png"
