#!/usr/bin/env bash
# Runs COMMAND... on a terminal of its own and exits with its status; what it
# writes goes to a file, shown afterwards as plain text. Under Wine a program
# has a working console only when it is started on a terminal.
#
#   on_terminal.sh COMMAND...
set -euo pipefail
log=$(mktemp "${TMPDIR:-/tmp}/pklfix-terminal.XXXXXX")
trap 'rm -f "$log"' EXIT
status=0
script -qec "$(printf '%q ' "$@") >$(printf '%q' "$log") 2>&1" /dev/null </dev/null >/dev/null ||
  status=$?
cat "$log"
exit "$status"
