#!/usr/bin/env bash
# Every command that `brimtone --help` lists, and every option that
# `brimtone COMMAND --help` lists, is in brimtone(1),
# which groff formats without a warning, and bash completion offers each
# command and each command's options.
# Usage: documented_test.sh BRIMTONE MAN_PAGE COMPLETION
set -euo pipefail
host="$1" page="$2" completion="$3"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

help="$("$host" --help 2>&1 || true)"
warnings="$(groff -man -Tutf8 -ww -z "$page" 2>&1)"
[ -z "$warnings" ] || fail "groff: $warnings"
text="$(groff -man -Tascii -P-bcou "$page" 2>/dev/null)"
mentions() { grep -qE -- "(^|[^a-z-])$1([^a-z-]|\$)" <<<"$text"; }

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
  mentions "$option" || fail "brimtone(1) does not mention $option"
done
for command in "${commands[@]}"; do
  grep -qE "^ {4,}$command\b" <<<"$text" || fail "brimtone(1) does not describe the command $command"
  offered "${command:0:2}" | grep -qx "$command" || fail "completion does not offer $command"
  options="$("$host" "$command" --help | sed -n '/^options:/,$p' | grep -oE '^  -[^ ,]+(, --[^ ,]+)?' |
             sed 's/^  //; s/, /\n/')"
  [ -n "$options" ] || fail "no options found in brimtone $command --help"
  for option in $options; do
    mentions "$option" || fail "brimtone(1) does not mention $option"
    offered "$command" "$option" | grep -qx -e "$option" || fail "completion does not offer $option after $command"
  done
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "documented: ${commands[*]}"
