#!/bin/sh
# Checks that every function the given Windows images import is one that the
# oldest Windows we support provides: each import must be listed in the
# allow-list under that version or an older one. An import the list does not
# know fails too, so a new import is looked up and listed before it ships;
# none can raise the oldest supported Windows unnoticed.
# Imports between the checked images themselves (by ordinal) are left to
# check_engine_imports.sh.
# usage: check_imports.sh OBJDUMP FLOOR ALLOWLIST IMAGE...
#   FLOOR is the oldest supported version as _WIN32_WINNT spells it (0x0600).
set -eu
here=$(dirname "$0")
objdump=$1 floor=$2 allowlist=$3
shift 3

listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
for image in "$@"; do
    name=$(basename "$image" | tr '[:upper:]' '[:lower:]')
    sh "$here/pe_listing.sh" "$objdump" "$image" | sed "s|^|$name |" >>"$listing"
done

awk -v floor="$floor" '
    function hexdigit(c) { return index("0123456789abcdef", tolower(c)) - 1 }
    function hex(s,    i, n) { sub(/^0x/, "", s); n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + hexdigit(substr(s, i, 1)); return n }
    # The allow-list: "[0x0600 Windows Vista]" opens the section of one
    # version; "[never]" the imports refused on every version; each entry is
    # "dll function", and text after "#" says why.
    FNR == NR {
        line = $0
        reason = ""
        if (index(line, "#")) { reason = substr(line, index(line, "#") + 1); line = substr(line, 1, index(line, "#") - 1) }
        if (split(line, f, " ") == 0) next
        if (f[1] ~ /^\[/) {
            sub(/^\[/, "", f[1]); sub(/\]$/, "", f[1])
            version = f[1]
            next
        }
        if (version == "") { print "allow-list entry before any [version]: " $0; broken = 1; next }
        key = tolower(f[1]) " " f[2]
        since[key] = version
        why[key] = reason
        next
    }
    # The listing: "image import dll function"; images are ours.
    $2 == "format" { format[$1] = $3; ours[$1] = 1; next }
    $2 == "import" { imports[++n] = $0; next }
    END {
        if (broken) exit 1
        failures = 0
        checked_imports = 0
        for (i = 1; i <= n; i++) {
            split(imports[i], f, " ")
            image = f[1]; key = f[3] " " f[4]
            if (f[3] in ours) continue
            checked_imports++
            where = image " (" format[image] ")"
            if (!(key in since)) {
                print where ": imports " key ", which the allow-list does not know: find the oldest Windows that provides it and list it there"
                failures++
            } else if (since[key] == "never") {
                print where ": imports " key ", refused:" why[key]
                failures++
            } else if (hex(since[key]) > hex(floor)) {
                print where ": imports " key ", which needs Windows " since[key] ", newer than the oldest we support (" floor ")"
                failures++
            }
        }
        images = 0
        for (image in ours) images++
        if (failures) { print failures " import(s) refused"; exit 1 }
        print checked_imports " imports of " images " images, all provided by Windows " floor
    }
' "$allowlist" "$listing"
