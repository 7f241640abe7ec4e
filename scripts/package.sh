#!/usr/bin/env bash
# Builds the Debian packages into out/ (brimtone_VERSION_ARCH.deb and
# obs-brimtone_VERSION_ARCH.deb, with the .changes and .buildinfo) from a
# copy of the repository's files in build-package/, then runs lintian on
# them, which must report no error.
# DEB_BUILD_OPTIONS passes through (nocheck skips the tests).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"

version="$(sed -n 's/^project(Brimtone VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
packaged="$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)"
if [ "$version" != "$packaged" ]; then
  echo "package: debian/changelog is at $packaged, CMakeLists.txt at $version; add an entry (dch -v $version)" >&2
  exit 1
fi

work="$root/build-package"
source_dir="$work/brimtone-$version"
rm -rf "$source_dir" "$work"/brimtone_*
mkdir -p "$source_dir" "$root/out"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
     xargs -0 cp --parents --no-dereference -t "$source_dir")
else
  tar -C "$root" --exclude='./build*' --exclude=./out -cf - . | tar -C "$source_dir" -xf -
fi

options="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }parallel=2"
(cd "$source_dir" && DEB_BUILD_OPTIONS="$options" dpkg-buildpackage -us -uc -b)
for package in brimtone brimtone-dbgsym obs-brimtone obs-brimtone-dbgsym; do
  rm -f "$root/out/${package}"_*
  mv "$work/${package}_$version"_* "$root/out/"
done
changes="$(ls "$root"/out/brimtone_"$version"_*.changes)"
lintian --fail-on error --suppress-tags bad-distribution-in-changes-file "$changes"
echo "package: $(ls "$root"/out/*_"$version"_*.deb | grep -v dbgsym)"
