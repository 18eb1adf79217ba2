#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds the fuzzers with clang and runs each for
# the given number of seconds (default 60): the decoder on single chunks,
# then the frame assembler on a stream cut into reads, then the capture file
# reader on files of any form fed in blocks, then every family of the table
# through the assembler, then SBUS, DSM and SUMH through the stream framer, then
# --family auto's finder over every family, then linkscope-plot's reading of JSON
# lines recordings. Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-dev python3
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DLINKSCOPE_FUZZ=ON \
    -DLINKSCOPE_QT_MAJOR="$LINKSCOPE_QT_MAJOR" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build/fuzz -j"$(nproc)" --target decode_fuzzer assembler_fuzzer capture_fuzzer families_fuzzer \
    gapframing_fuzzer familyfinder_fuzzer jsonframes_fuzzer
mkdir -p build/fuzz/corpus build/fuzz/assembler-corpus build/fuzz/capture-corpus build/fuzz/families-corpus \
    build/fuzz/gapframing-corpus build/fuzz/familyfinder-corpus build/fuzz/jsonframes-corpus
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
build/fuzz/fuzz/decode_fuzzer -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ build/fuzz/corpus fuzz/corpus
# The assembler's seeds: streams of good frames of every family, frames cut
# short, damaged frames and noise, delivered in reads of 1, 8 and 64 bytes.
# Each record is an operation byte (low two bits: noise, good, cut, damaged;
# the rest: read size - 1), then the bytes that make it.
python3 - build/fuzz/assembler-seeds <<'PY'
import os, random, sys
dst = sys.argv[1]
os.makedirs(dst, exist_ok=True)
rng = random.Random(1)
def frame():
    family = rng.randrange(7)
    extra = {0: 24, 1: 32, 2: 25, 5: 15, 6: 15}
    if family in (3, 4):
        count = rng.choice((2, 8, 16, 32))
        return bytes([family, count]) + bytes(rng.randrange(256) for _ in range(2 * count))
    return bytes([family]) + bytes(rng.randrange(256) for _ in range(extra[family]))
for size in (1, 8, 64):
    out = b""
    for _ in range(60):
        kind = rng.choice((1, 1, 1, 1, 0, 2, 3))
        op = bytes([(size - 1) << 2 | kind])
        if kind == 0:
            out += op + bytes([2, 0xA8, 0x01, 0xFF])
        elif kind == 1:
            out += op + frame()
        elif kind == 2:
            out += op + frame() + bytes([rng.randrange(256)])
        else:
            out += op + frame() + bytes([rng.randrange(256), rng.randrange(256)])
    open(os.path.join(dst, "stream-%d" % size), "wb").write(out)
# A stream that starts with damaged frames, then good ones.
for size in (1, 64):
    out = b""
    for i in range(12):
        kind = 3 if i < 6 else 1
        out += bytes([(size - 1) << 2 | kind]) + frame()
        if kind == 3:
            out += bytes([rng.randrange(256), rng.randrange(256)])
    open(os.path.join(dst, "damaged-start-%d" % size), "wb").write(out)
PY
# Inputs that once broke a rule, run first every time.
cp fuzz/assembler-regressions/* build/fuzz/assembler-seeds/
build/fuzz/fuzz/assembler_fuzzer -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/assembler- build/fuzz/assembler-corpus build/fuzz/assembler-seeds
# The capture reader's seeds: each sample file behind a byte that picks the
# input (detected, raw, hex, saleae) and the block size (1 or 64 bytes).
python3 - fuzz/capture-seeds build/fuzz/capture-seeds <<'PY'
import os, sys
src, dst = sys.argv[1], sys.argv[2]
os.makedirs(dst, exist_ok=True)
for name in sorted(os.listdir(src)):
    data = open(os.path.join(src, name), "rb").read()
    for first in (0x00, 0x24, 0x25, 0x26, 0x27):
        open(os.path.join(dst, "%s-%02x" % (name, first)), "wb").write(bytes([first]) + data)
PY
# Longer than the 4 KB the reader looks at to tell a dump from raw bytes;
# the memory limit catches any input that makes the reader ask for far more.
build/fuzz/fuzz/capture_fuzzer -max_total_time="$seconds" -timeout=10 -print_final_stats=1 -max_len=12000 \
    -malloc_limit_mb=256 -artifact_prefix=build/fuzz/capture- build/fuzz/capture-corpus build/fuzz/capture-seeds
# Every family of the table: seeds that look for each family alone and for
# all of them (two mask bytes, a seed for the damage), then records as for
# the assembler, whose bytes become channel values, in reads of 1 and 16.
python3 - build/fuzz/families-seeds <<'PY'
import os, random, sys
dst = sys.argv[1]
os.makedirs(dst, exist_ok=True)
rng = random.Random(2)
for mask in [1 << i for i in range(15)] + [0xFFFF]:
    for size in (1, 16):
        out = bytes([mask >> 8, mask & 0xFF, 7])
        for _ in range(40):
            kind = rng.choice((1, 1, 1, 0, 2, 3))
            out += bytes([(size - 1) << 2 | kind]) + bytes(rng.randrange(256) for _ in range(80))
        open(os.path.join(dst, "mask-%04x-%d" % (mask, size)), "wb").write(out)
PY
# Inputs that once broke a rule, run first every time.
cp fuzz/families-regressions/* build/fuzz/families-seeds/
build/fuzz/fuzz/families_fuzzer -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/families- build/fuzz/families-corpus build/fuzz/families-seeds
# SBUS, DSM and SUMH: the first byte picks the families (bit 7 adds CRSF), then
# records of an operation byte (low two bits: noise, good, damaged, cut;
# bit 2: a quiet line before; bit 3, on a good frame: SBUS2 slots after it
# or a DSM X-Plus word), a family byte and the bytes that make it.
python3 - build/fuzz/gapframing-seeds <<'PY'
import os, random, sys
dst = sys.argv[1]
os.makedirs(dst, exist_ok=True)
rng = random.Random(3)
for choice in (1, 2, 3, 4, 7, 0x83, 0x84):
    out = bytes([choice, 7])
    for _ in range(60):
        op = rng.choice((1, 1, 1, 5, 5, 0, 2, 3, 9, 13))
        out += bytes([op, rng.randrange(2)]) + bytes(rng.randrange(256) for _ in range(40))
    open(os.path.join(dst, "choice-%02x" % choice), "wb").write(out)
PY
build/fuzz/fuzz/gapframing_fuzzer -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/gapframing- build/fuzz/gapframing-corpus build/fuzz/gapframing-seeds
# The finder: a read size, whether bytes have times and a seed for the
# damage, then records of an operation byte (low two bits: noise, good,
# damaged, cut; the rest: the pause after it in ms), a family byte and the
# bytes that make it. Each family in a row, after noise, with and without times.
python3 - build/fuzz/familyfinder-seeds <<'PY'
import os, random, sys
dst = sys.argv[1]
os.makedirs(dst, exist_ok=True)
rng = random.Random(4)
for family in range(16):
    for timed in (0, 1):
        out = bytes([rng.randrange(64), timed, 7])
        out += bytes([0, family, 30]) + bytes(rng.randrange(256) for _ in range(30))
        for i in range(8):
            out += bytes([(5 << 2) | rng.choice((1, 1, 1, 2)), family]) + bytes(rng.randrange(256) for _ in range(70))
        open(os.path.join(dst, "family-%02d-%d" % (family, timed)), "wb").write(out)
PY
build/fuzz/fuzz/familyfinder_fuzzer -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/familyfinder- build/fuzz/familyfinder-corpus build/fuzz/familyfinder-seeds
# linkscope-plot's reading of JSON lines recordings, of one source or several.
build/fuzz/fuzz/jsonframes_fuzzer -max_total_time="$seconds" -timeout=10 -print_final_stats=1 -max_len=12000 \
    -malloc_limit_mb=512 -artifact_prefix=build/fuzz/jsonframes- build/fuzz/jsonframes-corpus fuzz/jsonframes-seeds
