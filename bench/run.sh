#!/bin/sh
# Builds the native engine and runs its benchmarks against xdelta3 and zstd.
#   bench/run.sh [engine_bench options]   e.g. --size 16 --chain 30 --dir-versions 2000
# Defaults: 64 MiB files, 10 versions, a 100-version chain, 10,000 versions
# in the directory benchmark. Scratch files go to /tmp/kseng-bench.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KSENG_BENCH_BUILD:-$top/build/native-bench}
for tool in cmake xdelta3 zstd; do
    command -v $tool >/dev/null || { echo "missing $tool (apt-get install cmake xdelta3 zstd zlib1g-dev)" >&2; exit 1; }
done
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target engine_bench >/dev/null
exec "$build/bin/engine_bench" "$@"
