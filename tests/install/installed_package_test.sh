#!/usr/bin/env bash
# Checks the installed Debian package as a user meets it: the files in
# place, brimtone on PATH rendering without --plugin, its manual page and
# completion, and the frei0r filter found by ffmpeg, melt and GStreamer in
# their own folders (no FREI0R_PATH).
# Usage: installed_package_test.sh   (after apt install ./out/brimtone_*.deb)
set -euo pipefail
work="$(mktemp -d "${TMPDIR:-/tmp}/brimtone-package-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
unset FREI0R_PATH
export XDG_CONFIG_HOME="$work/no-settings" QT_QPA_PLATFORM=offscreen
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

files="$(dpkg -L brimtone)"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
for expected in /usr/bin/brimtone /usr/lib/frei0r-1/brimtone.so \
    "/usr/lib/$multiarch/brimtone/libbrimtone-toolbox-core.so" "/usr/lib/$multiarch/brimtone/libbrimtone-toolbox-ui.so" \
    "/usr/lib/$multiarch/brimtone/Brimtone.bundle/Contents/Linux/Brimtone.so" \
    "/usr/lib/$multiarch/brimtone/Brimtone.bundle/Contents/Resources/manual.pdf" \
    /usr/share/man/man1/brimtone.1.gz /usr/share/bash-completion/completions/brimtone \
    /usr/share/doc/brimtone/copyright /usr/share/doc/brimtone/README.md.gz /usr/share/doc/brimtone/changelog.gz \
    /usr/share/kdenlive/effects/frei0r_brimtone.xml /usr/share/shotcut/qml/filters/brimtone/ui.qml \
    /usr/share/shotcut/qml/filters/brimtone/vui.qml /usr/share/shotcut/qml/filters/brimtone/parameters.js; do
  grep -qx "$expected" <<<"$files" || fail "the package has no $expected"
done

[ "$(command -v brimtone)" = /usr/bin/brimtone ] || fail "brimtone is not /usr/bin/brimtone"
brimtone render --frames 3 --size 64x48 -o "frame%03d.png" >/dev/null 2>err || fail "brimtone render: $(cat err)"
[ -s frame003.png ] || fail "brimtone render wrote no third frame"
MANPAGER=cat MANWIDTH=80 man brimtone 2>err | grep -q "brimtone render" || fail "man brimtone: $(cat err)"

# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion
_completion_loader brimtone || true
complete -p brimtone >/dev/null 2>&1 || fail "bash completion for brimtone is not loaded"

ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=64x48 -frames:v 1 -vf frei0r=brimtone -y out.png 2>err ||
  fail "ffmpeg -vf frei0r=brimtone: $(cat err)"
melt -query filter=frei0r.brimtone 2>&1 | grep -q "identifier: frei0r.brimtone" || fail "melt does not list frei0r.brimtone"
GST_REGISTRY="$work/registry.bin" gst-inspect-1.0 frei0r-filter-brimtone >inspect 2>&1 ||
  fail "gst-inspect-1.0 frei0r-filter-brimtone: $(head -3 inspect)"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "installed package: every check passed"
