#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# LinkScope for arm64 (a Raspberry Pi, a companion computer), checked on an
# amd64 Debian 12 machine: installs what is missing, cross-builds in
# build/arm64, runs under qemu the tests that emulation can run, checks that
# the arm64 linkscope-dump reads captures of every family exactly as the
# native one does, and builds the arm64 Debian package and runs lintian on it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The tests run under qemu, by CTest name (each also the name of its build
# target): every test of the protocol library, the capture readers and the
# reading path, and the others that pass under emulation.
RUN_TESTS=(
    tst_crc16 tst_mpx tst_nordax tst_hott tst_spektrum tst_families tst_gapframing tst_encoders
    tst_microseconds tst_frameassembler tst_readpolicy tst_decoderstartup tst_capturereader
    tst_channellist tst_watchfigures tst_watchlayout tst_telemetry tst_readbunching tst_readingrun tst_plotdata
    tst_lowlatency
    tst_dispatch tst_rawview tst_tablewriter tst_tablefit tst_cellimages
    tst_form tst_connection tst_endtoend tst_portloss
)
# Test functions left out of a test above, with the reason.
declare -A LEAVE_OUT_FUNCTIONS=(
    # Starts xxd and hexdump with QProcess (see below). The identity check
    # reads the real tools' dumps instead.
    [tst_capturereader]="realTools"
    # Names the port's holder from /proc, where the test is qemu-aarch64-static.
    [tst_connection]="portInUseNamesTheHolder"
)
# The tests left out: emulation's limits, not arm64 faults.
SKIPPED_TESTS=(
    # They start linkscope-dump, -send or -plot with QProcess. qemu 7.2
    # refuses the clone flags Qt 5 asks for, and QProcess then takes the
    # failure for a child with pid -1: its terminate() and kill() are
    # kill(-1, ...), which as root signals every process on the machine.
    # Several also set custom baud rates (420000, 416666, 100000), which
    # qemu does not pass on to the pseudo-terminal. The identity check below
    # runs the arm64 programs instead.
    tst_dump tst_send tst_sendtodump tst_sendtowindow tst_gapline tst_plot tst_watch tst_linesettings
    tst_commandline tst_porttiming
    # Reads its resident memory from /proc, which is qemu's; and two hundred
    # thousand reads through the window outlast QTest's five minutes.
    tst_longrun
    # Heavy widget work, 20-50 times slower than native: a function outlasts
    # QTest's five minutes.
    tst_fitequivalence
    # Tight timing, which qemu's slow first run of the code overruns: bytes
    # kept for a partial frame go stale after a short pause, so a frame split
    # over reads is judged early; the event loop may stall no more than half
    # a second; a burst of packets is painted fewer than a quarter as often;
    # a busy line loses no frame (on a loaded machine qemu stalls mid-frame).
    tst_reassembly tst_hostileline tst_painting tst_readpacing
    # Installs the build and starts the programs without qemu; the arm64
    # package is checked below.
    package
)

step() { echo; echo "== $* ($((SECONDS - started)) s)"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
started=$SECONDS

step "packages"
# The arm64 build is against Qt 5, whatever LINKSCOPE_QT_MAJOR says.
export LINKSCOPE_QT_MAJOR=5
. scripts/ensure-packages.sh
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    echo "Adding the arm64 architecture to dpkg"
    "${sudo[@]}" dpkg --add-architecture arm64
fi
ARM64_PACKAGES=(crossbuild-essential-arm64 qemu-user-static qtbase5-dev:arm64 libqt5serialport5-dev:arm64
                libqt5charts5-dev:arm64 libqt5svg5-dev:arm64 libncurses-dev:arm64)
# apt keeps a library installed for both architectures at one version, so
# this may upgrade some amd64 libraries too; it removes nothing.
ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" ninja-build lintian xxd bsdextrautils \
    "${ARM64_PACKAGES[@]}"
qemu=$(command -v qemu-aarch64-static) || fail "qemu-aarch64-static is missing"

step "native linkscope-send and linkscope-dump"
# The native build of the README's test command when there is one (CI has
# built it just before), else one of just these two programs.
if [ -f build/test/CMakeCache.txt ]; then
    native=build/test
else
    native=build/arm64-native
    cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DLINKSCOPE_QT_MAJOR=5 >/dev/null
fi
cmake --build "$native" -j"$(nproc)" --target linkscope-send linkscope-dump >/dev/null
echo "from $native"

step "cross-build"
build=build/arm64
# Release, as the package is built. A warning fails the build: the arm64
# compiler sees what the native one may not (a plain char is unsigned there).
# Ninja, which checks the many targets below in one pass where make takes
# seconds for each even when there is nothing to do.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$build/CMakeCache.txt"; then
    rm -rf "$build"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-Werror -DBUILD_TESTING=ON -DLINKSCOPE_QT_MAJOR=5 \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# The programs, what the package installs besides them, and the tests run
# below: not the tests left out, which cpack does not build either (the
# install does not depend on all).
cmake --build "$build" -j"$(nproc)" --target linkscope linkscope-dump linkscope-send linkscope-plot linkscope_docs \
    "${RUN_TESTS[@]}"
for program in linkscope linkscope-dump linkscope-send linkscope-plot; do
    readelf -h "$build/$program" | grep -q 'Machine:.*AArch64' || fail "$build/$program is not an arm64 program"
done

step "tests under qemu"
ctest_in() { ctest --test-dir "$build" "$@"; }
known=$(ctest_in -N | sed -n 's/^ *Test *#[0-9]*: //p')
for name in "${RUN_TESTS[@]}" "${SKIPPED_TESTS[@]}"; do
    echo "$known" | grep -Fqx "$name" || fail "no test $name: update the lists at the top of $0"
done
unlisted=$(echo "$known" | grep -Fvx -f <(printf '%s\n' "${RUN_TESTS[@]}" "${SKIPPED_TESTS[@]}") || true)
[ -z "$unlisted" ] || echo "NOTE: not yet in either list at the top of $0, so not run: $(echo "$unlisted" | tr "\n" " ")"
whole=()
for name in "${RUN_TESTS[@]}"; do
    [ -n "${LEAVE_OUT_FUNCTIONS[$name]:-}" ] || whole+=("$name")
done
# Each run in a PID namespace of its own: should a test still start a
# program with QProcess, its kill(-1, ...) reaches no process outside.
contained() {
    if [ "$(id -u)" -eq 0 ]; then
        unshare --pid --fork --mount-proc --kill-child "$@"
    else
        unshare --map-root-user --pid --fork --mount-proc --kill-child "$@"
    fi
}
contained true || fail "cannot make a PID namespace with unshare to run the tests in"
status=0
contained ctest --test-dir "$build" --output-on-failure -R "^($(IFS='|'; echo "${whole[*]}"))\$" || status=1
# The rest run by hand, through qemu as CTest would, without the functions
# left out.
for name in "${!LEAVE_OUT_FUNCTIONS[@]}"; do
    program=$(ctest_in -N -V -R "^$name\$" | sed -n 's/^[0-9]*: Test command: [^ ]*qemu-aarch64-static "\(.*\)"$/\1/p')
    [ -x "$program" ] || fail "cannot tell the program of test $name"
    functions=$(QT_QPA_PLATFORM=offscreen "$qemu" "$program" -functions | sed 's/()$//' \
                | grep -Fvx -f <(tr ' ' '\n' <<<"${LEAVE_OUT_FUNCTIONS[$name]}"))
    echo "$name, without ${LEAVE_OUT_FUNCTIONS[$name]}:"
    # shellcheck disable=SC2086 # one argument per function
    QT_QPA_PLATFORM=offscreen contained timeout 1500 "$qemu" "$program" -silent $functions || status=1
done
[ "$status" -eq 0 ] || fail "tests failed under qemu"

step "identity check: native and arm64 linkscope-dump"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The families a program knows, as it lists them when given one it does not.
families() {
    { "$@" 2>&1 >/dev/null || true; } | sed -n "s/^linkscope-[a-z]*: unknown family 'no-such-family' (\(.*\))\$/\1/p" | tr -d ' '
}
list=$(families "$native/linkscope-send" --family no-such-family -)
[ -n "$list" ] || fail "linkscope-send did not list its families"
other=$(families "$native/linkscope-dump" --family no-such-family /dev/null)
[ "$other" = "$list" ] || fail "linkscope-dump knows the families $other, linkscope-send $list"
other=$(families "$qemu" "$build/linkscope-dump" --family no-such-family /dev/null)
[ "$other" = "$list" ] || fail "the arm64 linkscope-dump knows the families $other, the native one $list"
IFS=, read -r -a FAMILIES <<<"$list"
echo "families: ${FAMILIES[*]}"

mismatches=0
# Runs the native and the arm64 linkscope-dump with the same arguments: their
# records, summaries and exit statuses must be the same byte for byte.
compare() {
    local label=$1; shift
    local nativeStatus=0 armStatus=0
    "$native/linkscope-dump" "$@" >"$work/native.out" 2>"$work/native.err" || nativeStatus=$?
    "$qemu" "$build/linkscope-dump" "$@" >"$work/arm64.out" 2>"$work/arm64.err" || armStatus=$?
    # A comparison of two empty outputs would prove nothing.
    if [ ! -s "$work/native.out" ] || ! grep -q '^frames: [1-9]' "$work/native.err"; then
        echo "FAIL: $label: the native linkscope-dump read no frames"; cat "$work/native.err"; mismatches=$((mismatches + 1))
        return
    fi
    if [ "$nativeStatus" != "$armStatus" ] || ! cmp -s "$work/native.out" "$work/arm64.out" \
            || ! cmp -s "$work/native.err" "$work/arm64.err"; then
        echo "FAIL: $label: arm64 differs (exit status $armStatus, native $nativeStatus)"
        diff "$work/native.out" "$work/arm64.out" | head -n 5
        diff "$work/native.err" "$work/arm64.err" | head -n 5
        mismatches=$((mismatches + 1))
        return
    fi
    echo "same: $label ($(wc -l <"$work/native.out") records)"
}
# Four seconds of each family at its own rate, written at once: a sweep,
# a tenth of the frames damaged, dropouts, and failsafe from 2.5 s.
damage=(--duration 4 --rate max --sweep=1 --corrupt 0.1 --seed 42 --failsafe-after 2.5
        --dropout-every 1 --dropout-for 150 --quiet -)
for family in "${FAMILIES[@]}"; do
    # Families without channels (a receiver's polls) take no sweep.
    sent=()
    for option in "${damage[@]}"; do
        case "$family:$option" in
            smartport:--sweep=1 | ibus-sensor:--sweep=1) ;;
            *) sent+=("$option") ;;
        esac
    done
    "$native/linkscope-send" --family "$family" "${sent[@]}" >"$work/$family.bin"
    # linkscope-send on arm64 writes the same frames.
    "$qemu" "$build/linkscope-send" --family "$family" "${sent[@]}" >"$work/$family.arm64.bin"
    cmp -s "$work/$family.bin" "$work/$family.arm64.bin" \
        || { echo "FAIL: $family: the arm64 linkscope-send writes other bytes"; mismatches=$((mismatches + 1)); }
    for format in jsonl csv text; do
        compare "$family $format" --family "$family" --format "$format" "$work/$family.bin"
    done
done
# All families in one file, each cut off mid-frame and followed by noise,
# read looking for every family; then the same bytes as the hex dumps of
# xxd, hexdump -C and od.
# XBUS and SUMH read MPX's and HOTT's bytes and are never looked for with them.
all=$(printf '%s\n' "${FAMILIES[@]}" | grep -vx -e xbus -e sumh | paste -sd,)
for family in "${FAMILIES[@]}"; do
    head -c 1999 "$work/$family.bin"
    printf '\x00\xff\x55\xaa\x13'
done >"$work/mixed.bin"
for format in jsonl csv text; do
    compare "every family, cut and noisy, $format" --family "$all" --format "$format" "$work/mixed.bin"
done
xxd "$work/mixed.bin" >"$work/mixed.xxd"
hexdump -C "$work/mixed.bin" >"$work/mixed.hexdump"
od -An -v -tx1 "$work/mixed.bin" >"$work/mixed.od"
for dump in xxd hexdump od; do
    compare "every family as $dump writes it" --family "$all" --format jsonl "$work/mixed.$dump"
done
[ "$mismatches" -eq 0 ] || fail "$mismatches differences between the native and the arm64 programs"

step "arm64 package"
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" -D CPACK_DEBIAN_PACKAGE_ARCHITECTURE=arm64 \
    >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$build/package"/linkscope_*_arm64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one linkscope_*_arm64.deb, found: ${debs[*]}"
deb=${debs[0]}
[ "$(dpkg-deb -f "$deb" Architecture)" = arm64 ] || fail "$deb is not for arm64"
depends=$(dpkg-deb -f "$deb" Depends)
names=$(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' | sort -u)
for lib in libc6 libstdc++6 libqt5core5a libqt5widgets5 libqt5serialport5 libqt5charts5 libqt5svg5 libncursesw6; do
    echo "$names" | grep -Fqx "$lib" || fail "Depends lacks $lib: $depends"
done
dpkg-deb -x "$deb" "$work/unpacked"
for program in linkscope linkscope-dump linkscope-send linkscope-plot; do
    readelf -h "$work/unpacked/usr/bin/$program" | grep -q 'Machine:.*AArch64' || fail "packaged $program is not for arm64"
done
# The packaged (stripped) programs still run.
first=${FAMILIES[0]}
"$qemu" "$work/unpacked/usr/bin/linkscope-dump" --family "$first" --format csv "$work/$first.bin" 2>/dev/null \
    | cmp -s - <("$native/linkscope-dump" --family "$first" --format csv "$work/$first.bin" 2>/dev/null) \
    || fail "the packaged linkscope-dump reads a capture otherwise than the native one"
(unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
 "$qemu" "$work/unpacked/usr/bin/linkscope-plot" "$work/$first.bin" --family "$first" -o "$work/$first.png" 2>/dev/null) \
    || fail "the packaged linkscope-plot failed"
[ "$(head -c 8 "$work/$first.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "the packaged linkscope-plot drew no PNG"
lintian --fail-on error,warning --tag-display-limit 0 "$deb" || fail "lintian reports errors or warnings"
echo "package: $deb"
echo "Depends: $depends"
echo "lintian passes"

step "arm64 checks passed"
