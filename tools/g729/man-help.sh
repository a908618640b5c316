#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# The g729 tool as help2man runs it: --version passes through; --help prints the tool's help
# followed by each subcommand's, headed by its usage line, so that the man page shows every
# command and its options.
#   man-help.sh TOOL --help|--version
# G729_TOOL_LAUNCHER, when set, is the command that runs TOOL (an emulator in a cross build).
tool="$1"
shift
run() {
  # shellcheck disable=SC2086  # the launcher is a command with its arguments
  ${G729_TOOL_LAUNCHER:-} "$tool" "$@"
}
if [ "$1" != "--help" ]; then
  run "$@"
  exit
fi
run --help || exit 1
for command in $(run --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF { print $1 }'); do
  echo
  run "$command" --help | awk '
    NR == 1 { summary = $0; next }
    /^Usage: / { sub(/^Usage: /, ""); print $0 ":"; print "  " summary; next }
    /^Positionals:$/ { print "Arguments of " cmd ":"; next }
    /^Options:$/ { print "Options of " cmd ":"; next }
    { print }' cmd="$command" || exit 1
done
