#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages Varlo needs to build, run and test.
# Only what is missing is installed; elsewhere the list is printed instead.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev qt6-svg-dev
    qcoro-qt6-dev
    libxcb1-dev libxcb-keysyms1-dev libx11-dev
    lsof procps iproute2
    dbus
    xvfb xauth xdotool trayer
    dpkg-dev file libxml2-utils desktop-file-utils appstream lintian
)

missing=()
if command -v dpkg-query >/dev/null 2>&1; then
    for p in "${packages[@]}"; do
        status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
        [[ "$status" == "install ok installed" ]] || missing+=("$p")
    done
else
    echo "This is not a Debian/Ubuntu system. Install these packages (or your system's equivalents):"
    echo "  ${packages[*]}"
    exit 1
fi

[[ ${#missing[@]} -eq 0 ]] && exit 0

if ! command -v apt-get >/dev/null 2>&1; then
    echo "Missing packages, and apt-get is not available: ${missing[*]}"
    exit 1
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
        sudo=(sudo)
    else
        echo "Missing packages; run as root or install sudo: ${missing[*]}"
        exit 1
    fi
fi

echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
