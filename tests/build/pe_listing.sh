#!/bin/sh
# Prints the import and export tables of one Windows image, one fact a line,
# from objdump's reading of the image (no Windows needed):
#   format pei-i386                  the image's object format
#   imagebase 67840000               its preferred load address (hex)
#   import kernel32.dll CreateFileA  a function imported by name (DLL in lower case)
#   import kseng32.dll #31           a function imported by ordinal
#   export 3 2580 -                  ordinal, address (hex RVA), name or - for none
# usage: pe_listing.sh OBJDUMP IMAGE
set -eu
objdump=$1
image=$2
"$objdump" -p "$image" | awk '
    function hexdigit(c) { return index("0123456789abcdef", tolower(c)) - 1 }
    function hex(s,    i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + hexdigit(substr(s, i, 1)); return n }
    / file format / { print "format", $NF }
    $1 == "ImageBase" { print "imagebase", $2 }
    /^\tDLL Name: / { dll = tolower($3); next }
    dll != "" && /^$/ { dll = ""; next }
    # An import: its thunk, then a hint and a name, or an ordinal and <none>.
    # A thunk with the top bit set (8 or 16 hex digits) holds an ordinal in
    # its low 16 bits.
    dll != "" && /^\t[0-9a-fA-F]+\t/ {
        thunk = $1
        if ((length(thunk) == 8 || length(thunk) == 16) && hexdigit(substr(thunk, 1, 1)) >= 8)
            print "import", dll, "#" hex(substr(thunk, length(thunk) - 3))
        else
            print "import", dll, $3
        next
    }
    /^Export Address Table -- Ordinal Base/ { section = "addresses"; next }
    /^\[Ordinal\/Name Pointer\] Table/ { section = "names"; next }
    section != "" && /^$/ { section = ""; next }
    # "[index] +base[ordinal] rva Export RVA"; the index counts from the base.
    section == "addresses" && /^\t\[/ {
        line = $0
        gsub(/[][+]/, " ", line)
        split(line, f, " ")
        ordinal[f[1]] = f[3]
        address[f[1]] = f[4]
        next
    }
    # "[index] name": the index is the one of the address table.
    section == "names" && /^\t\[/ {
        line = $0
        sub(/^\t\[ *[0-9]+\] /, "", line)
        index_ = $0
        gsub(/^\t\[ *| *\].*$/, "", index_)
        name[index_] = line
        next
    }
    END {
        for (i in ordinal)
            print "export", ordinal[i], address[i], (i in name) ? name[i] : "-"
    }
'
