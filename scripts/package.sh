#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds LinkScope for release and packs it as a
# Debian package; prints where the package is and what it depends on.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DLINKSCOPE_QT_MAJOR="$LINKSCOPE_QT_MAJOR"
cmake --build build/package -j"$(nproc)"
rm -f build/package/linkscope_*.deb
(cd build/package && cpack)
deb=$(ls build/package/linkscope_*.deb)
echo
echo "Package: $deb"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
