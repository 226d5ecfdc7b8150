#!/usr/bin/env bash
# `cmake --install` into a prefix with spaces: exactly the expected files, all
# inside the prefix, working programs; and the autostart entry an installed
# copy writes names that copy.
#   install.sh PACKAGE_BUILD_DIR TEST_BUILD_DIR SCRATCH_DIR
source "$(dirname "$0")/lib.sh"
package_build=$1 test_build=$2 scratch=$3
prefix="$scratch/prefix with spaces"
rm -rf "$scratch" && mkdir -p "$scratch"

cmake --install "$package_build" --prefix "$prefix" >/dev/null
same_lists "installed files" "$(expected_files)" "$(files_under "$prefix")"
while IFS= read -r path; do
    [[ "$path" == "$prefix"/* ]] || fail "installed outside the prefix: $path"
done <"$package_build/install_manifest.txt"

check_icons "$prefix"
"$prefix/bin/varlo-report" --help | grep -q 'Usage: .*varlo-report' || fail "varlo-report --help"
validate_desktop_entry "$prefix/share/applications/app.varlo.Varlo.desktop"
validate_metainfo "$prefix/share/metainfo/app.varlo.Varlo.metainfo.xml"

# Launch at login from the installed copy.
cmake --install "$test_build" --component login-item-probe --prefix "$prefix" >/dev/null
probe="$prefix/bin/varlo-login-item-probe"
entry=$(XDG_CONFIG_HOME="$scratch/config" "$probe") || fail "the login item could not be turned on"
[[ "$entry" == "$scratch/config/autostart/app.varlo.Varlo.desktop" ]] || fail "autostart entry at $entry"
validate_desktop_entry "$entry"
grep -qxF "Exec=\"$probe\"" "$entry" && grep -qxF "TryExec=$probe" "$entry" ||
    fail "the autostart entry does not name $probe: $(grep Exec "$entry")"
echo "install: ok"
