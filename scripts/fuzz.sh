#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds the fuzzers with clang and runs each for
# the given number of seconds (default 60): the decoder on single chunks,
# then the frame assembler on a stream cut into reads. Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-dev python3
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DLINKSCOPE_FUZZ=ON \
    -DLINKSCOPE_QT_MAJOR="$LINKSCOPE_QT_MAJOR" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build/fuzz -j"$(nproc)" --target decode_fuzzer assembler_fuzzer
mkdir -p build/fuzz/corpus build/fuzz/assembler-corpus
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
build/fuzz/fuzz/decode_fuzzer -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ build/fuzz/corpus fuzz/corpus
# The assembler's seeds: all packets of the decoder's corpus in one stream,
# cut into 8-byte reads (each read is a size byte, then the bytes).
python3 - fuzz/corpus build/fuzz/assembler-seeds <<'PY'
import os, sys
src, dst = sys.argv[1], sys.argv[2]
os.makedirs(dst, exist_ok=True)
stream = b"".join(open(os.path.join(src, f), "rb").read() for f in sorted(os.listdir(src)))
for size in (1, 8, 64):
    out = b"".join(bytes([size - 1]) + stream[i:i + size] for i in range(0, len(stream), size))
    open(os.path.join(dst, "stream-%d" % size), "wb").write(out)
PY
build/fuzz/fuzz/assembler_fuzzer -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/assembler- build/fuzz/assembler-corpus build/fuzz/assembler-seeds
