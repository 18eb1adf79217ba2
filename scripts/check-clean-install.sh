#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a LinkScope package on a freshly bootstrapped Debian system that
# has no Qt, starts /usr/bin/linkscope there against an Xvfb display and
# waits for its window. Needs root and access to a Debian mirror.
# Usage: check-clean-install.sh [package.deb] [screenshot.png]
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "run this as root (it bootstraps and chroots)" >&2; exit 1; }

deb=${1:-}
shot=${2:-}
if [ -z "$deb" ]; then
    scripts/package.sh
    deb=$(ls build/package/linkscope_*.deb)
fi
deb=$(realpath "$deb")

. scripts/ensure-packages.sh
ensure_packages debootstrap xvfb x11-utils imagemagick

. /etc/os-release
suite=${SUITE:-$VERSION_CODENAME}
mirror=${MIRROR:-http://deb.debian.org/debian}
root=$(mktemp -d /tmp/linkscope-clean.XXXXXX)
display=:$((90 + RANDOM % 100))
xvfb_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    sleep 0.5
    mountpoint -q "$root/tmp/.X11-unix" && umount "$root/tmp/.X11-unix"
    mountpoint -q "$root/proc" && umount "$root/proc"
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT

echo "Bootstrapping $suite into $root"
debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$root.log" 2>&1 \
    || { tail -20 "$root.log" >&2; exit 1; }
rm -f "$root.log"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"

if chroot "$root" dpkg-query -W -f='${Package}\n' 'libqt5*' 2>/dev/null | grep -q .; then
    echo "FAIL: the fresh system already has Qt" >&2; exit 1
fi

cp "$deb" "$root/tmp/"
echo "Installing $(basename "$deb")"
if ! { chroot "$root" apt-get update -q &&
        chroot "$root" env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q "/tmp/$(basename "$deb")"; } >"$root/tmp/install.log" 2>&1; then
    tail -30 "$root/tmp/install.log" >&2
    echo "FAIL: apt-get could not install the package" >&2; exit 1
fi
grep -E '^[0-9]+ upgraded|^Setting up linkscope' "$root/tmp/install.log"
for f in /usr/bin/linkscope /usr/bin/linkscope-dump /usr/share/applications/org.linkscope.LinkScope.desktop \
         /usr/share/icons/hicolor/scalable/apps/linkscope.svg; do
    [ -e "$root$f" ] || { echo "FAIL: $f is not installed" >&2; exit 1; }
done

Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
for _ in $(seq 1 50); do
    [ -S "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.2
done
chroot "$root" env DISPLAY="$display" XDG_RUNTIME_DIR=/tmp /usr/bin/linkscope >"$root/tmp/run.log" 2>&1 &
app_pid=$!

for _ in $(seq 1 100); do
    if DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '"LinkScope": ("linkscope" "linkscope")'; then
        kill -0 "$app_pid" || break
        echo "PASS: /usr/bin/linkscope shows its window on the fresh system"
        [ -n "$shot" ] && DISPLAY=$display import -window root "$shot" && echo "Screenshot: $shot"
        exit 0
    fi
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.2
done
cat "$root/tmp/run.log" >&2
echo "FAIL: no LinkScope window appeared" >&2
exit 1
