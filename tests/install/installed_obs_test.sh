#!/usr/bin/env bash
# Checks the installed obs-brimtone package in OBS Studio itself: obs starts
# under Xvfb (Mesa's software OpenGL) with a scene holding an image source,
# our filter is added through OBS's own obs-websocket server with a password
# of this test's making, and the source's screenshot must be the picture that
# the installed brimtone host renders with the same settings. OBS's log must
# show the module loaded without errors.
#
# OBS tries to update its service lists over the network when it starts, so
# everything runs in a network namespace of its own (unshare -n) with only
# the loopback interface, the websocket client included.
# Usage: installed_obs_test.sh   (as root, after apt install ./out/*.deb)
set -euo pipefail
if [ -z "${BRIMTONE_OBS_NETNS:-}" ]; then
  exec env BRIMTONE_OBS_NETNS=1 unshare -n "$0" "$@"
fi
ip link set lo up
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/brimtone-obs-XXXXXX")"
# shellcheck source=tests/install/obs_studio.sh
source "$here/obs_studio.sh"
trap 'obs_studio_stop; rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

files="$(dpkg -L obs-brimtone)"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
for expected in "/usr/lib/$multiarch/obs-plugins/brimtone.so" /usr/share/obs/obs-plugins/brimtone/brimtone.effect \
    /usr/share/obs/obs-plugins/brimtone/locale/en-US.ini /usr/share/doc/obs-brimtone/copyright; do
  grep -qx "$expected" <<<"$files" || fail "obs-brimtone has no $expected"
done
if dpkg-query -W -f='${Depends}' brimtone | grep -q obs; then fail "brimtone depends on OBS"; fi

# The picture and the effect's own rendering of it.
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=320x240 -frames:v 1 picture.png
brimtone render picture.png -o 'effect%d.png' --frames 1 --threshold 40 --dark 201080 --light ffe090 \
  --region 0.134,0.075,0.717,0.893 -q -y 2>err || fail "brimtone render: $(cat err)"

password="$(head -c 12 /dev/urandom | base64 | tr -d '/+=')"
obs_studio_start "$work" "$work/picture.png" "$password"

# OBS keeps colours as 0xAABBGGRR: #201080 and #ffe090.
requests='[
  {"requestType": "CreateSourceFilter", "requestData": {"sourceName": "Picture", "filterName": "Brimtone",
   "filterKind": "brimtone_filter", "filterSettings": {"threshold": 40, "colour1": '$((0xFF801020))',
   "colour2": '$((0xFF90E0FF))', "left": 13.4, "top": 7.5, "right": 71.7, "bottom": 89.3}}},
  {"requestType": "GetSourceFilter", "requestData": {"sourceName": "Picture", "filterName": "Brimtone"}},
  {"requestType": "GetSourceScreenshot", "requestData": {"sourceName": "Picture", "imageFormat": "png"},
   "saveTo": "screenshot.png"}
]'
"$here/obs_websocket.py" --password "$password" "$requests" >answers 2>err ||
  fail "obs-websocket: $(cat err)"

if [ -s screenshot.png ] && [ -s effect1.png ]; then
  # PNG is lossless: the screenshot may differ from the effect's picture only
  # in what its encoding changes, which here is nothing.
  for png in screenshot effect1; do
    ffmpeg -nostdin -loglevel error -i "$png.png" -f rawvideo -pix_fmt rgb24 -y "$png.rgb"
  done
  /usr/bin/python3 - screenshot.rgb effect1.rgb picture.png <<'EOF' || fail "the screenshot is not the effect's picture"
import sys
got, want = (open(name, "rb").read() for name in sys.argv[1:3])
if len(got) != len(want):
    sys.exit(f"{len(got)} bytes, want {len(want)}")
differ = [i // 3 for i in range(0, len(want), 3) if got[i:i + 3] != want[i:i + 3]]
if differ:
    sys.exit(f"{len(differ)} pixels differ, the first at ({differ[0] % 320}, {differ[0] // 320})")
EOF
else
  fail "no screenshot or no effect picture"
fi

obs_studio_stop
log="$(ls "$work"/config/obs-studio/logs/*.txt 2>/dev/null | head -1)"
if [ -z "$log" ]; then
  fail "OBS wrote no log"
else
  sed -n '/Loaded Modules:/,/^[^ ]*: -----/p' "$log" | grep -q ' brimtone\.so$' || fail "OBS's log lists no brimtone.so"
  if grep -i brimtone "$log" | grep -Ei 'error|fail|warning|not loaded'; then fail "OBS's log shows trouble with brimtone"; fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "OBS Studio: the filter's picture is the effect's"
