#!/bin/sh
# Starts or stops the private Wine session the Windows tests run in.
#   wine-session.sh start PREFIX   create the prefix on first use (headless), keep the server warm
#   wine-session.sh stop PREFIX    stop the server and every process left in the prefix
set -eu
action=$1
export WINEPREFIX=$2
export WINEDEBUG=-all
WINE=${KEEPSAKE_WINE:-/usr/lib/wine/wine64}
WINESERVER=${KEEPSAKE_WINESERVER:-/usr/lib/wine/wineserver}
unset DISPLAY || true

case $action in
start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        # No Mono or Gecko prompts: nothing of ours needs them.
        WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot -i >/dev/null 2>&1
        # The null display driver: windows and dialogs are real, nothing is drawn.
        "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        "$WINESERVER" -w
    fi
    # A second drive for tests that need one: E: is a folder of the prefix.
    mkdir -p "$WINEPREFIX/drive_e"
    ln -sfn ../drive_e "$WINEPREFIX/dosdevices/e:"
    # The server must not hold the test runner's output open.
    # A server already running for this prefix serves as well.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
    ;;
stop)
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    ;;
*)
    echo "usage: $0 start|stop PREFIX" >&2
    exit 2
    ;;
esac
