#!/bin/sh
# Builds the native engine and runs its benchmarks against xdelta3, zstd and
# rdiff, pinned to one processor (the peers are single-threaded, and so is
# the copy the extractions are measured against).
#   bench/run.sh [engine_bench options]   e.g. --size 16 --chain 30 --dir-versions 2000 --only chain
# Defaults: 64 MiB files, 10 versions; a 1 GiB chain of 4; one 4 GiB file; a
# 100-version chain; 10,000 versions in the directory benchmark; medians of
# 3 extractions. Scratch files go to /tmp/kseng-bench (about 8 GiB at most).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KSENG_BENCH_BUILD:-$top/build/native-bench}
for tool in cmake xdelta3 zstd rdiff taskset; do
    command -v $tool >/dev/null || { echo "missing $tool (apt-get install cmake xdelta3 zstd rdiff util-linux zlib1g-dev)" >&2; exit 1; }
done
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target engine_bench >/dev/null
exec taskset -c "${KSENG_BENCH_CPU:-0}" "$build/bin/engine_bench" "$@"
