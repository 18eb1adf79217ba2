#!/usr/bin/env bash
# Installs a built tree into a staging folder, checks what landed there,
# starts the installed program, then builds the Debian package and checks
# its contents and dependencies.
# Usage: check-package.sh <build-dir>
set -euo pipefail

build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in desktop-file-validate:desktop-file-utils xmllint:libxml2-utils \
            dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev readelf:binutils cpack:cmake; do
    command -v "${tool%%:*}" >/dev/null || fail "${tool%%:*} is missing (Debian package ${tool#*:})"
done

expected_files="usr/bin/linkscope
usr/bin/linkscope-dump
usr/share/applications/linkscope.desktop
usr/share/icons/hicolor/scalable/apps/linkscope.svg"

stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
installed=$(cd "$stage" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$installed" = "$expected_files" ] || fail "installed tree differs:
$installed"
echo "installed tree:"
echo "$installed" | sed 's/^/  /'

bin=$stage/usr/bin/linkscope
[ -x "$bin" ] || fail "usr/bin/linkscope is not executable"

desktop=$stage/usr/share/applications/linkscope.desktop
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Type)" = Application ] || fail "Type is not Application"
[ "$(entry Exec)" = linkscope ] || fail "Exec does not start the installed linkscope"
[ "$(entry Icon)" = linkscope ] || fail "Icon does not name the installed icon"
[ "$(entry Terminal)" = false ] || fail "Terminal is not false"
entry Categories | grep -Eq '(^|;)(Development|Electronics)(;|$)' || fail "Categories has neither Development nor Electronics"
echo "desktop entry validates"

icon=$stage/usr/share/icons/hicolor/scalable/apps/linkscope.svg
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
for lib in libc6 libstdc++6 libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5; do
    echo "$names" | grep -Fqx "$lib" || fail "Depends lacks $lib"
done
if echo "$names" | grep -Eq -- '-dev$|^libasan|^libubsan'; then
    fail "Depends names a development or sanitizer package"
fi

dpkg-deb -x "$deb" "$work/unpacked"
for program in linkscope linkscope-dump; do
    if readelf -S "$work/unpacked/usr/bin/$program" | grep -q '\.debug_info'; then
        fail "the packaged $program still carries debug information"
    fi
done
echo "package checks passed"
