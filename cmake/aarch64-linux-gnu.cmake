# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-builds LinkScope for arm64 (a Raspberry Pi, a companion computer) on
# a Debian amd64 machine with crossbuild-essential-arm64 and the :arm64 Qt
# and ncurses development packages: scripts/test-arm64.sh uses it as
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Debian puts the arm64 libraries and their CMake files under / in
# /usr/lib/aarch64-linux-gnu, beside the amd64 ones; the cross toolchain's
# own C library lies under /usr/aarch64-linux-gnu. Without / Qt5Core is not
# found at all.
set(CMAKE_FIND_ROOT_PATH / /usr/aarch64-linux-gnu)
# Libraries, headers and packages for the target only; programs (moc, uic,
# rcc, gzip) are the host's, as Debian's arm64 Qt CMake files expect.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest starts each test program through qemu. Not with -L: that would pair
# the cross toolchain's loader with Debian's arm64 C library, and programs
# spin at full CPU; without it the binary's own loader path finds the
# libc6:arm64 that the Qt packages brought.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
