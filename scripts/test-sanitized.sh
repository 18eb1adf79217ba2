#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the whole test suite that way.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
# The live view is tested in a terminal that tmux runs.
ensure_packages "${BUILD_PACKAGES[@]}" tmux
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DLINKSCOPE_SANITIZE=ON \
    -DLINKSCOPE_QT_MAJOR="$LINKSCOPE_QT_MAJOR"
cmake --build build/sanitize -j"$(nproc)"
cd build/sanitize
ctest --output-on-failure
