#!/usr/bin/env bash
# Every command that `brimtone --help` lists, and every option that
# `brimtone COMMAND --help` lists, is in brimtone(1) (which groff formats
# without a warning), the README and the manual's source, and bash completion
# offers each command and each command's options. The exit statuses that the
# README's table gives are the man page's, and those brimtone really gives for
# success, failure and a usage error are among them. The README's quick-start
# commands run as written, on a small clip.
# Usage: documented_test.sh BRIMTONE MAN_PAGE COMPLETION README MANUAL_SOURCE
set -euo pipefail
host="$1" page="$2" completion="$3" readme="$4" manual="$5"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

help="$("$host" --help 2>&1 || true)"
warnings="$(groff -man -Tutf8 -ww -z "$page" 2>&1)"
[ -z "$warnings" ] || fail "groff: $warnings"
text="$(groff -man -Tascii -P-bcou "$page" 2>/dev/null)"
manualText="$(sed 's/\\-/-/g; s/\\(mu/x/g' "$manual")"
readmeText="$(cat "$readme")"
mentionedIn() { grep -qE -- "(^|[^a-z-])$1([^a-z-]|\$)" <<<"$2"; }
mentions() {
  mentionedIn "$1" "$text" || fail "brimtone(1) does not mention $1"
  mentionedIn "$1" "$readmeText" || fail "the README does not mention $1"
  mentionedIn "$1" "$manualText" || fail "the manual does not mention $1"
}

# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion
# shellcheck source=/dev/null
source "$completion"
offered() {  # offered WORD... : the completions of the last word
  COMP_WORDS=(brimtone "$@")
  COMP_CWORD=$#
  COMP_LINE="brimtone $*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _brimtone brimtone "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}"
}

# The commands from the general help, each command's options from its own.
mapfile -t commands < <(sed -n '/^commands:/,/^$/s/^  \([a-z][a-z]*\)  .*/\1/p' <<<"$help")
[ ${#commands[@]} -ge 4 ] || fail "no commands found in: $help"
for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help"); do
  mentions "$option"
done
for command in "${commands[@]}"; do
  grep -qE "^ {4,}$command\b" <<<"$text" || fail "brimtone(1) does not describe the command $command"
  grep -qE "brimtone $command\b" <<<"$readmeText" || fail "the README does not show brimtone $command"
  grep -qE "brimtone $command\b" <<<"$manualText" || fail "the manual does not show brimtone $command"
  offered "${command:0:2}" | grep -qx "$command" || fail "completion does not offer $command"
  options="$("$host" "$command" --help | sed -n '/^options:/,$p' | grep -oE '^  -[^ ,]+(, --[^ ,]+)?' |
             sed 's/^  //; s/, /\n/')"
  [ -n "$options" ] || fail "no options found in brimtone $command --help"
  for option in $options; do
    mentions "$option"
    offered "$command" "$option" | grep -qx -e "$option" || fail "completion does not offer $option after $command"
  done
done

# Exit statuses: the README's table and the man page's section agree, and
# what brimtone gives for success, failure and usage errors is documented.
readmeStatuses="$(sed -n '/^### Exit statuses/,/^#/p' "$readme" | grep -oE '^\| [0-9]+ ' | tr -dc '0-9\n' | sort -n)"
pageStatuses="$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$text" | grep -oE '\b[0-9]{1,3}\b' | sort -nu)"
[ -n "$readmeStatuses" ] || fail "the README has no table of exit statuses"
[ "$readmeStatuses" = "$pageStatuses" ] ||
  fail "exit statuses: the README gives $(echo $readmeStatuses), brimtone(1) $(echo $pageStatuses)"
work="$(mktemp -d "${TMPDIR:-/tmp}/brimtone-documented-XXXXXX")"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME"
status() { local s=0; "$@" >/dev/null 2>&1 </dev/null || s=$?; echo "$s"; }
for observed in "$(status "$host" --help)" "$(status "$host" render "$work/missing.mp4" -o "$work/x.mp4")" \
                "$(status "$host" render --no-such-option)"; do
  grep -qx "$observed" <<<"$readmeStatuses" || fail "brimtone exits with $observed, which the README does not document"
done

# The quick start, word for word but for the program's path; configure,
# which waits for a click, takes a picture of its dialog instead.
( cd "$work"
  ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440 -t 5 \
    -pix_fmt yuv420p -shortest holiday.mp4
  mapfile -t quick < <(sed -n '/^## Quick start/,/^## /p' "$readme" | grep -E '^    brimtone ' | sed 's/ *#.*$//')
  [ ${#quick[@]} -ge 4 ] || { echo "FAIL: no quick-start commands found in the README"; exit 1; }
  for line in "${quick[@]}"; do
    read -r -a words <<<"$line"
    words[0]="$host"
    [ "${words[1]}" = configure ] && words+=(--screenshot dialog.png)
    # Each command meets the folder as a new user's: no output of an earlier one.
    for ((i = 1; i + 1 < ${#words[@]}; ++i)); do
      [ "${words[i]}" = -o ] && rm -f "${words[i + 1]}"
    done
    rm -f dialog.png
    "${words[@]}" >/dev/null 2>"$work/err" </dev/null && continue
    echo "FAIL: the README's '$line' failed: $(tail -1 "$work/err")"
    exit 1
  done ) || failures=$((failures + 1))

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "documented: ${commands[*]}"
