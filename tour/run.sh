#!/bin/sh
# The product's main job, end to end: install Keepsake from its MSI into a
# fresh Wine prefix and take the tour through the real shell path, with
# screenshots of what a person sees. Run by `./build.sh tour`.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${KEEPSAKE_BIN:-$root/build/x64/bin}
work=${KEEPSAKE_TOUR:-$root/build/tour}
shots=$work/screenshots
export WINEPREFIX=$work/wineprefix
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

[ -f "$bin/keepsake-x64.msi" ] || { echo "tour: $bin/keepsake-x64.msi is missing (apt-get install wixl)" >&2; exit 1; }
[ -f "$bin/tour.exe" ] || { echo "tour: $bin/tour.exe is missing" >&2; exit 1; }

# A fresh prefix drawn by Wine's X11 driver on a virtual screen.
"$WINESERVER" -k 2>/dev/null || true
rm -rf "$work"
mkdir -p "$shots"
display=:47
Xvfb $display -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap '"$WINESERVER" -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
sleep 1
echo "Creating a Wine prefix in $WINEPREFIX ..."
WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot -i >/dev/null 2>&1
"$WINESERVER" -w

echo "Installing Keepsake from keepsake-x64.msi ..."
windows_path() { "$WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
"$WINE" msiexec /i "$(windows_path "$bin/keepsake-x64.msi")" /qn >/dev/null 2>&1
"$WINE" reg query 'HKLM\Software\Zemla\Keepsake\Settings' >/dev/null 2>&1 || { echo "tour: the installation wrote no settings" >&2; exit 1; }

echo "Taking the tour ..."
sample='C:\users\Public\Documents\Keepsake Tour'
status=0
"$WINE" "$bin/tour.exe" "$sample" "$(windows_path "$shots")" </dev/null >"$work/tour.log" 2>&1 || status=$?
tr -d '\r' <"$work/tour.log"

# PNG where ImageMagick is there; the BMP files otherwise.
if [ -x /usr/bin/convert-im6.q16 ]; then
    for picture in "$shots"/*.bmp; do
        [ -f "$picture" ] || continue
        /usr/bin/convert-im6.q16 "$picture" "${picture%.bmp}.png" && rm -f "$picture"
    done
fi
echo
echo "The sample document and its versions: $WINEPREFIX/drive_c/users/Public/Documents/Keepsake Tour"
echo "Screenshots: $shots"
ls -1 "$shots"
exit $status
