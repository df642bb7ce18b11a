#!/bin/sh
# keepshel's folders are layers that point down only:
#   shellext -> history -> dialogs -> archive
# (resources may be included from any of them). A source that includes a
# header of a higher layer fails the check, naming the line.
# usage: check_layers.sh VERSIONING-FOLDER
set -eu
root=$1
found=$(mktemp)
trap 'rm -f "$found"' EXIT
rank() {
    case $1 in
        archive) echo 0 ;; dialogs) echo 1 ;; history) echo 2 ;; shellext) echo 3 ;; *) echo -1 ;;
    esac
}
for layer in archive dialogs history shellext; do
    own=$(rank "$layer")
    for file in "$root/$layer"/*.cpp "$root/$layer"/*.h; do
        [ -f "$file" ] || continue
        # Each quoted include naming a folder: "x/name.h" or "../x/name.h".
        grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
            sed -n 's|^\([0-9]*\):[^"]*"\(\.\./\)\{0,1\}\([a-z_]*\)/[^"]*".*|\1 \3|p' |
            while read -r line folder; do
                other=$(rank "$folder")
                if [ "$other" -gt "$own" ]; then
                    echo "$file:$line: $layer includes from $folder, a layer above it"
                fi
            done
    done
done >"$found"
if [ -s "$found" ]; then
    cat "$found" >&2
    exit 1
fi
