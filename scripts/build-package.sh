#!/usr/bin/env bash
# Builds the Debian package in BUILD_DIR: a Release build without tests,
# benchmarks or update checks (the package manager updates it), with Debian's
# hardening flags.
#   scripts/build-package.sh BUILD_DIR [extra cmake arguments...]
set -euo pipefail

[[ $# -ge 1 ]] || { echo "usage: $0 BUILD_DIR [cmake arguments...]" >&2; exit 2; }
mkdir -p "$1"
build_dir=$(cd "$1" && pwd)
shift
# From the source folder, so the flags (which map it to ".") are the same wherever this is called from.
cd "$(dirname "$0")/.."

export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DVARLO_BUILD_TESTS=OFF -DVARLO_BUILD_BENCH=OFF \
    -DVARLO_ENABLE_UPDATER=OFF "$@"
cmake --build "$build_dir" -j "${JOBS:-$(nproc)}"
# Only this version's package may be left, so `apt install ./…/varlo_*.deb` finds one.
rm -f "$build_dir"/varlo_*.deb
cmake --build "$build_dir" --target package
ls "$build_dir"/varlo_*.deb
