#!/bin/sh
# Checks how our images bind the version engine: by ordinal alone (its
# exports carry no names), and only to ordinals the engine's .def exports.
# The shell extension must bind it at load time; the other images may.
# usage: check_engine_imports.sh OBJDUMP ENGINE_DEF SHELL_IMAGE [IMAGE...]
set -eu
here=$(dirname "$0")
objdump=$1 def=$2
shift 2
engine=$(awk '/^LIBRARY/ { print tolower($2) }' "$def")

failures=0
first=1
for image in "$@"; do
    name=$(basename "$image")
    result=$(sh "$here/pe_listing.sh" "$objdump" "$image" | awk -v def="$def" -v engine="$engine" -v image="$name" -v required="$first" '
        BEGIN {
            while ((getline line < def) > 0) {
                if (line ~ /^[ \t]*EXPORTS/) { exports = 1; continue }
                sub(/;.*/, "", line)
                if (!exports || split(line, f, " ") == 0) continue
                for (i = 2; i in f; i++) if (f[i] ~ /^@[0-9]+$/) exported[substr(f[i], 2)] = 1
            }
        }
        $1 == "import" && $2 == engine {
            n++
            if ($3 !~ /^#/) { print image ": imports " $3 " from " engine " by name, not by ordinal"; bad++ }
            else if (!(substr($3, 2) in exported)) { print image ": imports ordinal " substr($3, 2) " from " engine ", which it does not export"; bad++ }
        }
        END {
            if (required && n == 0) { print image ": does not import " engine; bad++ }
            if (bad) exit 1
            if (n) print image ": " n " engine functions, all by ordinal"
        }
    ') || failures=$((failures + 1))
    [ -n "$result" ] && echo "$result"
    first=0
done
exit $((failures > 0))
