#!/bin/sh
# Builds Keepsake for 64-bit and 32-bit Windows and the native engine tree.
#   ./build.sh         build everything
#   ./build.sh test    build everything and run every test (native, then under Wine)
#   ./build.sh tour    build everything, install Keepsake into a fresh Wine prefix
#                      and take the tour through the shell, with screenshots
set -eu
cd "$(dirname "$0")"
jobs=${JOBS:-$(nproc)}

configure() {  # tree [toolchain]
    if [ ! -f "build/$1/CMakeCache.txt" ]; then
        if [ -n "${2:-}" ]; then
            cmake -S . -B "build/$1" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/$2"
        else
            cmake -S . -B "build/$1"
        fi
    fi
}

configure x64 toolchain-x86_64-w64-mingw32.cmake
configure i686 toolchain-i686-w64-mingw32.cmake
configure native
for tree in x64 i686 native; do
    cmake --build "build/$tree" -j "$jobs"
done

echo
echo "64-bit Windows: $PWD/build/x64/bin"
echo "32-bit Windows: $PWD/build/i686/bin"

if [ "${1:-}" = tour ]; then
    exec sh tour/run.sh
fi
if [ "${1:-}" = test ]; then
    status=0
    (cd build/native && ctest --output-on-failure -j "$jobs") || status=1
    # The 32-bit tree runs nothing; its tests read its images.
    (cd build/i686 && ctest --output-on-failure -j "$jobs") || status=1
    (cd build/x64 && ctest --output-on-failure) || status=1
    exit $status
fi
