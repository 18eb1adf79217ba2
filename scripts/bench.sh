#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds the benchmarks in release mode and runs
# them: first the timings, then the heap check (with glibc's per-thread cache
# off, which would otherwise count parked blocks as in use), then the CPU a
# shown window takes on a line kept busy at 115200 baud, how fast
# linkscope-dump turns a 50 MB capture and a 50 MB Saleae CSV export into CSV,
# how fast the capture reader decodes 50 MB Saleae CSV exports and an xxd
# dump, and last the CPU that linkscope-dump takes on that busy line printing
# text to a file and drawing the live view (--watch), and how fast
# linkscope-plot draws an hour at 100 frames/s, a 50 MB capture and a 50 MB
# Saleae CSV export, with the most memory it took.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" libbenchmark-dev
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DLINKSCOPE_BENCH=ON \
    -DLINKSCOPE_QT_MAJOR="$LINKSCOPE_QT_MAJOR"
cmake --build build/bench -j"$(nproc)" --target bench_packets bench_line bench_dump bench_capture bench_watch \
    bench_plot bench_gapframing
export QT_QPA_PLATFORM=offscreen
LINKSCOPE_SKIP_HEAP_CHECK=1 build/bench/bench/bench_packets \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_min_time=0.1 "$@"
GLIBC_TUNABLES=glibc.malloc.tcache_count=0 build/bench/bench/bench_packets --benchmark_filter=NONE
build/bench/bench/bench_line "${LINKSCOPE_LINE_SECONDS:-4}"
# linkscope-dump as it was at LINKSCOPE_BENCH_BEFORE (default main), built
# beside this one, so that bench_dump compares the two in the same run.
before="${LINKSCOPE_BENCH_BEFORE:-main}"
if git rev-parse -q --verify "$before^{commit}" >/dev/null; then
    rm -rf build/bench-before-src && mkdir -p build/bench-before-src
    git archive "$before" | tar -x -C build/bench-before-src
    cmake -S build/bench-before-src -B build/bench-before -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DLINKSCOPE_QT_MAJOR="$LINKSCOPE_QT_MAJOR"
    cmake --build build/bench-before -j"$(nproc)" --target linkscope-dump
    export LINKSCOPE_DUMP_BEFORE="$PWD/build/bench-before/linkscope-dump"
fi
build/bench/bench/bench_dump 50
build/bench/bench/bench_gapframing 50
build/bench/bench/bench_capture 50
build/bench/bench/bench_watch "${LINKSCOPE_LINE_SECONDS:-4}" 3
build/bench/bench/bench_plot
