#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds LinkScope and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build/app -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DLINKSCOPE_QT_MAJOR="$LINKSCOPE_QT_MAJOR"
cmake --build build/app -j"$(nproc)"
exec build/app/linkscope
