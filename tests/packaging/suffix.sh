#!/usr/bin/env bash
# A pre-release suffix reaches the package's file name, its control file, the
# programs, the changelog and the metadata.
#   suffix.sh PACKAGE_BUILD_DIR SCRATCH_DIR VERSION BUILD_ARGS...
source "$(dirname "$0")/lib.sh"
package_build=$1 scratch=$2 version=$3~rc1
shift 3
rm -rf "$scratch" && mkdir -p "$scratch"

"$(dirname "$0")/../../scripts/build-package.sh" "$package_build" "$@" -DVARLO_VERSION_SUFFIX=~rc1 >/dev/null
deb=$(ls "$package_build"/varlo_*.deb)
[[ $(wc -l <<<"$deb") == 1 ]] || fail "the previous package was left behind: $deb"
check_deb "$deb" "$version"

dpkg-deb -x "$deb" "$scratch"
[[ "$("$scratch/usr/bin/varlo-report" --version)" == "varlo-report $version" ]] || fail "varlo-report --version"
[[ "$(gzip -dc "$scratch/usr/share/doc/varlo/changelog.gz" | head -1)" == "varlo ($version) unstable; urgency=medium" ]] ||
    fail "changelog version"
grep -qF "<release version=\"$version\"" "$scratch/usr/share/metainfo/app.varlo.Varlo.metainfo.xml" ||
    fail "metadata release"
echo "suffix: ok"
