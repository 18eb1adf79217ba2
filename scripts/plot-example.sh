#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Redraws docs/plot-example.png: twelve seconds of a HoTT receiver played by
# linkscope-send (channels sweeping, a dropout every 5 s, a damaged frame now
# and then, failsafe after 8 s), recorded by linkscope-dump as JSON lines and
# drawn by linkscope-plot. No display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" fonts-dejavu-core
cmake -S . -B build/test -DBUILD_TESTING=ON
cmake --build build/test -j"$(nproc)" --target linkscope-send linkscope-dump linkscope-plot
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/test/linkscope-send --family hott --sweep=6 --failsafe-after 8 --dropout-every 5 --dropout-for 700 \
    --corrupt 0.01 --seed 7 --duration 12 - | build/test/linkscope-dump --format jsonl - >"$work/bench.jsonl"
mkdir -p docs
build/test/linkscope-plot "$work/bench.jsonl" --channels 1-6 --size 1600x900 -o docs/plot-example.png
