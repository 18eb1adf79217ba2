#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds LinkScope with its tests and runs them all.
# Against Qt 5 by default; `scripts/test.sh 6` (or LINKSCOPE_QT_MAJOR=6)
# builds and tests against Qt 6 in a folder of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
export LINKSCOPE_QT_MAJOR=${1:-${LINKSCOPE_QT_MAJOR:-5}}
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
build=build/test
[ "$LINKSCOPE_QT_MAJOR" = 5 ] || build=build/test-qt$LINKSCOPE_QT_MAJOR
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DLINKSCOPE_QT_MAJOR="$LINKSCOPE_QT_MAJOR"
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
