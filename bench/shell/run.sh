#!/bin/sh
# Builds the 64-bit tree's shell benchmark and runs it under Wine in a
# prefix of its own, pinned to one processor after the prefix's server has
# ended (a server round trip then costs what it costs on Windows).
#   bench/shell/run.sh [--quick]
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$top/build/x64
export WINEPREFIX=$build/bench-wineprefix WINEDEBUG=-all
cmake --build "$build" -j2 --target shell_bench keepshel kseng32 >/dev/null
sh "$top/cmake/wine-session.sh" start "$WINEPREFIX"
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w
cd "$build/bin"
status=0
taskset -c 0 /usr/lib/wine/wine64 ./shell_bench.exe "$@" || status=$?
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w
exit $status
