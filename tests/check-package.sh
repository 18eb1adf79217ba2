#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a built tree into a staging folder, checks what landed there,
# starts the installed programs, renders the manual pages, validates the
# AppStream data, then builds the Debian package, checks its contents and
# dependencies and runs lintian on it.
# Usage: check-package.sh <build-dir>
set -euo pipefail

build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in desktop-file-validate:desktop-file-utils xmllint:libxml2-utils \
            dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev readelf:binutils cpack:cmake \
            lintian:lintian appstreamcli:appstream man:man-db; do
    command -v "${tool%%:*}" >/dev/null || fail "${tool%%:*} is missing (Debian package ${tool#*:})"
done

expected_files="usr/bin/linkscope
usr/bin/linkscope-dump
usr/bin/linkscope-plot
usr/bin/linkscope-send
usr/share/applications/org.linkscope.LinkScope.desktop
usr/share/doc/linkscope/changelog.gz
usr/share/doc/linkscope/copyright
usr/share/icons/hicolor/scalable/apps/linkscope.svg
usr/share/man/man1/linkscope-dump.1.gz
usr/share/man/man1/linkscope-plot.1.gz
usr/share/man/man1/linkscope-send.1.gz
usr/share/man/man1/linkscope.1.gz
usr/share/metainfo/org.linkscope.LinkScope.metainfo.xml"

stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
installed=$(cd "$stage" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$installed" = "$expected_files" ] || fail "installed tree differs:
$installed"
echo "installed tree:"
echo "$installed" | sed 's/^/  /'

bin=$stage/usr/bin/linkscope
[ -x "$bin" ] || fail "usr/bin/linkscope is not executable"

desktop=$stage/usr/share/applications/org.linkscope.LinkScope.desktop
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Type)" = Application ] || fail "Type is not Application"
[ "$(entry Exec)" = linkscope ] || fail "Exec does not start the installed linkscope"
[ "$(entry Icon)" = linkscope ] || fail "Icon does not name the installed icon"
[ "$(entry Terminal)" = false ] || fail "Terminal is not false"
entry Categories | grep -Eq '(^|;)(Development|Electronics)(;|$)' || fail "Categories has neither Development nor Electronics"
echo "desktop entry validates"

icon=$stage/usr/share/icons/hicolor/scalable/apps/linkscope.svg
appstreamcli validate --no-net "$stage/usr/share/metainfo/org.linkscope.LinkScope.metainfo.xml" \
    || fail "the AppStream data does not validate"
echo "AppStream data validates"

for page in linkscope linkscope-dump linkscope-send linkscope-plot; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$stage/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "the manual page of $page renders with warnings: $warnings"
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$stage/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -q dialout \
        || fail "the manual page of $page does not render"
done
echo "manual pages render without warnings"

xmllint --noout "$icon" || fail "icon is not well-formed XML"
[ "$(xmllint --xpath 'local-name(/*)' "$icon")" = svg ] || fail "icon is not an SVG document"
echo "icon is an SVG document"

# A program that cannot start (missing library or plugin, crash at start-up)
# is gone within a moment; a good one is still running when timeout stops it.
status=0
QT_QPA_PLATFORM=offscreen timeout 3 "$bin" >"$work/run.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$work/run.log" >&2; fail "installed linkscope exited with status $status instead of running"; }
echo "installed linkscope starts and keeps running"

dump=$stage/usr/bin/linkscope-dump
"$dump" --version | grep -q '^linkscope-dump ' || fail "installed linkscope-dump does not tell its version"
printf '\x00\xa8\x01\x00\x27\x0c' >"$work/capture.bin"
[ "$("$dump" --format csv "$work/capture.bin" 2>/dev/null | tail -n 1)" = ",1,HOTT,true,false,a80100270c" ] \
    || fail "installed linkscope-dump does not decode a capture"
echo "installed linkscope-dump decodes a capture"

send=$stage/usr/bin/linkscope-send
"$send" --version | grep -q '^linkscope-send ' || fail "installed linkscope-send does not tell its version"
"$send" --family hott --us 1500 --count 2 --quiet - >"$work/sent.bin" || fail "installed linkscope-send failed"
[ "$("$dump" --format csv "$work/sent.bin" 2>/dev/null | tail -n 1)" = ",7,HOTT,true,false,1500,12000,a801012ee0b10a" ] \
    || fail "installed linkscope-send does not send what linkscope-dump reads back"
echo "installed linkscope-send sends frames that linkscope-dump reads"

# Drawn without a display, as on a headless bench computer.
plot=$stage/usr/bin/linkscope-plot
"$plot" --version | grep -q '^linkscope-plot ' || fail "installed linkscope-plot does not tell its version"
(unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; "$plot" "$work/sent.bin" -o "$work/sent.png" 2>"$work/plot.log") \
    || { cat "$work/plot.log" >&2; fail "installed linkscope-plot failed"; }
[ "$(head -c 8 "$work/sent.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] \
    || fail "installed linkscope-plot did not draw a PNG"
echo "installed linkscope-plot draws a picture without a display"

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
debs=("$work/package"/linkscope_*_"$arch".deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one linkscope_*_$arch.deb, found: ${debs[*]}"
deb=${debs[0]}
echo "package: $(basename "$deb")"

packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort)
[ "$packaged" = "$expected_files" ] || fail "package contents differ from the install:
$packaged"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names=$(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' | sort -u)
qt=$(sed -n 's/^LINKSCOPE_QT_MAJOR:STRING=//p' "$build/CMakeCache.txt")
if [ "$qt" = 6 ]; then
    qtlibs="libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6charts6 libqt6svg6"
else
    qtlibs="libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5 libqt5charts5 libqt5svg5"
fi
for lib in libc6 libstdc++6 $qtlibs; do
    echo "$names" | grep -Fqx "$lib" || fail "Depends lacks $lib"
done
if echo "$names" | grep -Eq -- '-dev$|^libasan|^libubsan'; then
    fail "Depends names a development or sanitizer package"
fi

dpkg-deb -x "$deb" "$work/unpacked"
for program in linkscope linkscope-dump linkscope-send linkscope-plot; do
    if readelf -S "$work/unpacked/usr/bin/$program" | grep -q '\.debug_info'; then
        fail "the packaged $program still carries debug information"
    fi
done
# Tags that cannot be mended are overridden in the package, each with its reason.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" || fail "lintian reports errors or warnings"
echo "lintian passes"

echo "package checks passed"
