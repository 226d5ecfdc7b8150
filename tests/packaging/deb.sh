#!/usr/bin/env bash
# The Debian package: control fields, the same files as an installation, no
# lintian errors, and a second build that gives the same package.
#   deb.sh PACKAGE_BUILD_DIR SCRATCH_DIR VERSION BUILD_ARGS...
source "$(dirname "$0")/lib.sh"
package_build=$1 scratch=$2 version=$3
shift 3
rm -rf "$scratch" && mkdir -p "$scratch"

deb=$(ls "$package_build"/varlo_*.deb)
[[ $(wc -l <<<"$deb") == 1 ]] || fail "more than one package: $deb"
check_deb "$deb" "$version"
depends=$(dpkg-deb --field "$deb" Depends)
for needed in lsof procps libqt6core6; do
    grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
[[ "$(dpkg-deb --field "$deb" Recommends)" == libqt6svg6 ]] || fail "Recommends"
[[ "$(dpkg-deb --field "$deb" Suggests)" == "docker.io | docker-ce-cli, network-manager" ]] || fail "Suggests"

dpkg-deb -x "$deb" "$scratch/root"
same_lists "packaged files" "$(expected_files | sed 's|^|usr/|')" "$(files_under "$scratch/root")"
check_icons "$scratch/root/usr"

lintian_report=$(lintian --info --tag-display-limit 0 "$deb" 2>&1 || true)
echo "$lintian_report"
! grep -q '^E: ' <<<"$lintian_report" || fail "lintian reports errors"

# Building again replaces the package with an identical one.
listing() { dpkg-deb --info "$1" | grep -v '^ *\(new Debian package\|size\)'; dpkg-deb --contents "$1" | awk '{print $1, $6}'; }
before=$(listing "$deb")
"$(dirname "$0")/../../scripts/build-package.sh" "$package_build" "$@" >/dev/null
same_lists "the rebuilt package" "$before" "$(listing "$(ls "$package_build"/varlo_*.deb)")"
echo "deb: ok"
