#!/bin/sh
# Checks the export table of one Windows image against its .def file: every
# entry the .def names is exported (by name, or by ordinal alone where the
# .def says NONAME), at the ordinal the .def gives, and nothing else is.
# On 32-bit images each export must also remove exactly its arguments from
# the stack on return (ret N), N being the byte count that the argument
# table gives for it; a wrong calling convention or argument list would
# corrupt the caller's stack. The table must list every export on both
# targets, so it stays complete.
# With "unnamed", the image must export no names at all, whatever the .def
# says: its callers bind it by ordinal.
# usage: check_exports.sh OBJDUMP IMAGE DEF ARGUMENT_TABLE [unnamed]
set -eu
here=$(dirname "$0")
objdump=$1 image=$2 def=$3 table=$4 unnamed=${5:-}
image_name=$(basename "$image" | tr '[:upper:]' '[:lower:]')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sh "$here/pe_listing.sh" "$objdump" "$image" >"$work/listing"
format=$(awk '$1 == "format" { print $2 }' "$work/listing")

# The .def's entries: "name bytes-from-decoration ordinal noname", - for none.
awk '
    /^[ \t]*EXPORTS/ { exports = 1; next }
    !exports { next }
    { sub(/;.*/, "") }
    NF == 0 { next }
    {
        name = $1; bytes = "-"; ordinal = "-"; noname = 0
        if (match(name, /@[0-9]+$/)) { bytes = substr(name, RSTART + 1); name = substr(name, 1, RSTART - 1) }
        for (i = 2; i <= NF; i++) {
            if ($i ~ /^@[0-9]+$/) ordinal = substr($i, 2)
            else if ($i == "NONAME") noname = 1
        }
        print name, bytes, ordinal, noname
    }
' "$def" >"$work/entries"

# The argument table's rows for this image: "export bytes".
awk -v image="$image_name" '{ sub(/#.*/, "") } NF >= 3 && tolower($1) == image { print $2, $3 }' "$table" >"$work/arguments"

# On 32-bit images: the return instructions of each exported function.
# Lines "address ret-bytes..." for the exports' addresses, from the
# disassembly of the function that starts there and its cold parts; a
# function without a return of its own ends in a jump to another one, whose
# returns count.
if [ "$format" = pei-i386 ]; then
    "$objdump" -d --no-show-raw-insn "$image" | awk -v listing="$work/listing" '
        function hexdigit(c) { return index("0123456789abcdef", tolower(c)) - 1 }
        function hex(s,    i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + hexdigit(substr(s, i, 1)); return n }
        BEGIN {
            while ((getline line < listing) > 0) {
                split(line, f, " ")
                if (f[1] == "imagebase") base = hex(f[2])
                if (f[1] == "export") wanted[f[3]] = 1
            }
        }
        /^[0-9a-f]+ <.*>:$/ {
            label = $0
            sub(/^[0-9a-f]+ </, "", label); sub(/>:$/, "", label)
            at[hex($1)] = label
            current = label
            next
        }
        current != "" && /^ *[0-9a-f]+:\t/ {
            instruction = $0
            sub(/^ *[0-9a-f]+:\t/, "", instruction)
            if (instruction ~ /^(repz |rep |bnd )?ret[lw]? *(\$0x[0-9a-f]+)?$/) {
                bytes = 0
                if (match(instruction, /\$0x[0-9a-f]+/)) bytes = hex(substr(instruction, RSTART + 3, RLENGTH - 3))
                returns[current] = returns[current] " " bytes
            } else if (instruction ~ /^jmp +[0-9a-f]+ <[^+>]+>$/) {
                target = instruction
                sub(/^.*</, "", target); sub(/>$/, "", target)
                if (target != current && index(target, current ".cold") != 1) jumps[current] = jumps[current] " " target
            }
        }
        function collect(label, depth,    found, l, n, i, t) {
            found = ""
            for (l in returns)
                if (l == label || index(l, label ".cold") == 1) found = found returns[l]
            if (found == "" && depth < 3) {
                n = split(jumps[label], t, " ")
                for (i = 1; i <= n; i++) found = found collect(t[i], depth + 1)
            }
            return found
        }
        END {
            for (rva in wanted) {
                address = base + hex(rva)
                print rva, (address in at) ? at[address] : "?", collect(at[address], 0)
            }
        }
    ' >"$work/returns"
else
    : >"$work/returns"
fi

awk -v image="$image_name" -v format="$format" -v unnamed="$unnamed" -v entries="$work/entries" -v arguments="$work/arguments" -v returns="$work/returns" '
    BEGIN {
        failures = 0
        while ((getline line < arguments) > 0) { split(line, f, " "); bytes[f[1]] = f[2] }
        while ((getline line < returns) > 0) {
            n = split(line, f, " ")
            symbol[f[1]] = f[2]
            rets[f[1]] = ""
            for (i = 3; i <= n; i++) rets[f[1]] = rets[f[1]] " " f[i]
        }
        count = 0
        while ((getline line < entries) > 0) {
            split(line, f, " ")
            count++
            name[count] = f[1]; decorated[count] = f[2]; ordinal[count] = f[3]; noname[count] = f[4]
        }
    }
    $1 == "export" { exports++; exported_ordinal[$2] = $3; exported_name[$2] = $4; if ($4 != "-") by_name[$4] = $2; next }
    function fail(message) { print image " (" format "): " message; failures++ }
    END {
        if (unnamed == "unnamed")
            for (o in exported_name)
                if (exported_name[o] != "-") fail("exports the name " exported_name[o] " (ordinal " o "); it exports by ordinal alone")
        for (i = 1; i <= count; i++) {
            if (noname[i]) {
                if (!(ordinal[i] in exported_ordinal)) { fail("ordinal " ordinal[i] " (" name[i] ") is not exported"); continue }
                if (exported_name[ordinal[i]] != "-") fail("ordinal " ordinal[i] " is exported with the name " exported_name[ordinal[i]] ", but by ordinal alone in the .def")
                at = ordinal[i]
            } else {
                if (!(name[i] in by_name)) { fail(name[i] " is not exported by that name"); continue }
                at = by_name[name[i]]
                if (ordinal[i] != "-" && at != ordinal[i]) fail(name[i] " is exported at ordinal " at ", not at " ordinal[i])
            }
            matched[at] = 1
            if (!(name[i] in bytes)) { fail(name[i] " has no row in the argument table"); continue }
            if (decorated[i] != "-" && decorated[i] != bytes[name[i]])
                fail(name[i] " is decorated @" decorated[i] " in the .def, but takes " bytes[name[i]] " bytes of arguments")
            if (format != "pei-i386") continue
            rva = exported_ordinal[at]
            if (rets[rva] == "") { fail(name[i] " (" symbol[rva] "): no return instruction found"); continue }
            n = split(rets[rva], r, " ")
            for (j = 1; j <= n; j++)
                if (r[j] != bytes[name[i]]) {
                    fail(name[i] " (" symbol[rva] ") returns with ret " r[j] ", but its arguments take " bytes[name[i]] " bytes")
                    break
                }
        }
        for (o in exported_ordinal)
            if (!(o in matched))
                fail("exports " ((exported_name[o] != "-") ? exported_name[o] : "an entry without a name") " at ordinal " o ", which the .def does not list")
        if (failures) exit 1
        print image " (" format "): " exports " export(s), exactly as the .def lists them" ((format == "pei-i386") ? ", each removing its arguments on return" : "")
    }
' "$work/listing"
