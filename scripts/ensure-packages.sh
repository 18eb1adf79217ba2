# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the other scripts: installs the Debian packages named in the
# arguments that are not installed yet (as root, or through sudo).
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    # Never removes a package to make room, and waits for another install
    # to finish rather than fail.
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends --no-remove \
        -o DPkg::Lock::Timeout=600 "${missing[@]}"
}

# The Qt major version comes from LINKSCOPE_QT_MAJOR (5, the default, or 6).
LINKSCOPE_QT_MAJOR=${LINKSCOPE_QT_MAJOR:-5}
case "$LINKSCOPE_QT_MAJOR" in
    5) QT_PACKAGES=(qtbase5-dev libqt5serialport5-dev libqt5charts5-dev libqt5svg5-dev) ;;
    # Qt 6 Charts' CMake files need the OpenGL module's, which qt6-charts-dev does not pull in.
    6) QT_PACKAGES=(qt6-base-dev qt6-serialport-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev) ;;
    *) echo "LINKSCOPE_QT_MAJOR must be 5 or 6" >&2; exit 2 ;;
esac
# linkscope-dump --watch draws with ncurses; linkscope-plot draws with Qt
# Charts and writes SVG with QtSvg (the Qt packages above).
BUILD_PACKAGES=(g++ make cmake "${QT_PACKAGES[@]}" libncurses-dev)
# dpkg-shlibdeps works out the package's dependencies.
PACKAGE_PACKAGES=(dpkg-dev)
# The package check also validates the menu entry, the icon and the AppStream
# data, renders the manual pages and runs lintian. The capture reader's test
# reads the dumps the real xxd and hexdump (bsdextrautils) write; the live
# view is tested in a real terminal that tmux runs.
# linkscope-plot's test reads its PDF back with pdftotext (poppler-utils).
TEST_PACKAGES=("${PACKAGE_PACKAGES[@]}" desktop-file-utils libxml2-utils appstream man-db lintian xxd bsdextrautils tmux
               poppler-utils)
