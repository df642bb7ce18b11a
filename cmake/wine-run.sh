#!/bin/sh
# Runs one Windows test program under wine64 in the private prefix.
# Wine's own chatter is silenced. The program writes to a file, not to the
# test runner's pipe: Wine's desktop process, started by the first window,
# would inherit the pipe and keep the runner waiting after the test ended.
set -u
export WINEDEBUG=${WINEDEBUG:--all}
unset DISPLAY || true
log=$(mktemp)
"${KEEPSAKE_WINE:-/usr/lib/wine/wine64}" "$@" >"$log" 2>&1 </dev/null
status=$?
cat "$log"
rm -f "$log"
exit $status
