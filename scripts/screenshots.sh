#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Redraws docs/window-empty.png and docs/window-decoded.png under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" xvfb xauth fonts-dejavu-core
cmake -S . -B build/test -DBUILD_TESTING=ON
cmake --build build/test -j"$(nproc)" --target linkscope_screenshot
mkdir -p docs
xvfb-run -a -s "-screen 0 1024x1000x24" build/test/tests/linkscope_screenshot \
    docs/window-empty.png docs/window-decoded.png
