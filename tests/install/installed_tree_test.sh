#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the whole tree elsewhere
# and runs it from there: every RUNPATH relative to its own file, the host
# finding the installed bundle beside itself, the frei0r filter loading in
# ffmpeg, and every file a packager expects in its place.
# Usage: installed_tree_test.sh BUILD_DIR
set -euo pipefail
build="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/brimtone-install-XXXXXX")"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/moved"
root="$work/moved"
export XDG_CONFIG_HOME="$work/no-settings"

# The private folder: lib/brimtone, or lib/<triplet>/brimtone where the
# libraries go there (GNUInstallDirs with the prefix /usr, as Debian builds).
private="$(cd "$root" && find lib* -maxdepth 2 -type d -name brimtone | head -1)"
[ -n "$private" ] || fail "no private folder lib/brimtone or lib/*/brimtone"
for expected in bin/brimtone "$private"/libbrimtone-toolbox-core.so "$private"/libbrimtone-toolbox-ui.so \
    "$private"/Brimtone.bundle/Contents/Info.plist "$private"/Brimtone.bundle/Contents/Linux/Brimtone.so \
    "$private"/Brimtone.bundle/Contents/Resources/Brimtone.rsrc "$private"/Brimtone.bundle/Contents/Resources/manual.pdf \
    "$private"/Brimtone.bundle/Contents/Resources/brimtone.nib/configNTSC.ui lib/frei0r-1/brimtone.so \
    share/man/man1/brimtone.1 share/bash-completion/completions/brimtone share/doc/brimtone/README.md \
    share/doc/brimtone/docs/dialog.png share/doc/brimtone/docs/obs.png share/kdenlive/effects/frei0r_brimtone.xml \
    share/shotcut/qml/filters/brimtone/meta.qml share/shotcut/qml/filters/brimtone/ui.qml \
    share/shotcut/qml/filters/brimtone/vui.qml share/shotcut/qml/filters/brimtone/parameters.js; do
  [ -e "$root/$expected" ] || fail "missing $expected"
done
if [ -e "$build/obs/obs-plugins/brimtone.so" ]; then
  [ -n "$(find "$root"/lib* -path '*/obs-plugins/brimtone.so')" ] || fail "missing lib/*/obs-plugins/brimtone.so"
  for expected in share/obs/obs-plugins/brimtone/brimtone.effect share/obs/obs-plugins/brimtone/locale/en-US.ini; do
    [ -e "$root/$expected" ] || fail "missing $expected"
  done
fi

while IFS= read -r -d '' file; do
  readelf -h "$file" >/dev/null 2>&1 || continue
  paths="$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')"
  for path in ${paths//:/ }; do
    # shellcheck disable=SC2016 # $ORIGIN is literal
    case $path in '$ORIGIN'*) ;; *) fail "${file#"$root"/} searches $path" ;; esac
  done
  if ldd "$file" 2>/dev/null | grep -q 'not found'; then fail "${file#"$root"/}: $(ldd "$file" | grep 'not found')"; fi
  if ldd "$file" 2>/dev/null | grep -q "$build"; then fail "${file#"$root"/} loads from the build tree"; fi
done < <(find "$root" -type f -print0)

info="$("$root/bin/brimtone" info)" || fail "brimtone info failed"
grep -q "^bundle: *$root/lib[^ ]*/brimtone/Brimtone.bundle\$" <<<"$info" || fail "the host did not take the installed bundle: $info"
"$root/bin/brimtone" render --frames 3 --size 64x48 -o "$work/frame%03d.png" >/dev/null 2>"$work/err" ||
  fail "render failed: $(cat "$work/err")"
[ -s "$work/frame003.png" ] || fail "render wrote no third frame"
"$root/bin/brimtone" settings >"$work/out" 2>&1 || fail "brimtone settings failed: $(cat "$work/out")"

if command -v ffmpeg >/dev/null; then
  FREI0R_PATH="$root/lib/frei0r-1" ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=64x48 -frames:v 1 \
    -vf frei0r=brimtone -y "$work/filtered.png" 2>"$work/err" || fail "ffmpeg with the installed filter: $(cat "$work/err")"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "installed tree: complete, and works after a move"
