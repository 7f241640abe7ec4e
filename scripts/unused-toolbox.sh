#!/usr/bin/env bash
# Lists the functions that the toolbox libraries export and nothing outside
# them calls: not the plug-in (src/), the host, the frei0r filter or the
# resource compiler; the core's functions also count as called when the ui
# library calls them. The toolbox's own TB calls (hooks for hosts and tests)
# count as called from the tests too. Exits 1 when it lists any.
# Usage: scripts/unused-toolbox.sh BUILD_DIR
set -euo pipefail
build="${1:?usage: $0 BUILD_DIR}"
core="$build/platform/core/libbrimtone-toolbox-core.so"
ui="$build/platform/ui/libbrimtone-toolbox-ui.so"

# Kept without a caller here:
#   CFBundleCreate  the tests' way to load a bundle from a temporary folder
#   FSClose         closes the files that EasyFile's PSPOpenFile opens
keep='^(CFBundleCreate|FSClose)\('

undefined() { find "$@" -name '*.o' -exec nm -u --extern-only {} + | awk 'NF {print $NF}'; }
called=$( {
  undefined "$build/src" "$build/host" "$build/bundle" "$build/frei0r/CMakeFiles/brimtone_frei0r.dir" \
            "$build/platform/core/CMakeFiles/brimtone-rez.dir"
  nm -D -u "$ui" | awk '{print $NF}'
  undefined "$build/tests" | grep -E '^_Z[0-9]+TB' || true
} | sort -u)
exported=$(nm -D --defined-only --extern-only "$core" "$ui" | awk '$2 == "T" {print $3}' | sort -u)

# Destructors come with their class.
unused=$(comm -23 <(echo "$exported") <(echo "$called") | c++filt | grep -Ev "$keep|::~" || true)
if [ -n "$unused" ]; then
  echo "Toolbox functions without a caller:"
  echo "$unused" | sed 's/^/  /'
  exit 1
fi
echo "Every exported toolbox function has a caller."
