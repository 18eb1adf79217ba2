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
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(g++ make cmake qtbase5-dev libqt5serialport5-dev)
# dpkg-shlibdeps works out the package's dependencies.
PACKAGE_PACKAGES=(dpkg-dev)
# The package check also validates the menu entry and the icon.
TEST_PACKAGES=("${PACKAGE_PACKAGES[@]}" desktop-file-utils libxml2-utils)
