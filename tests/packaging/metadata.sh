#!/usr/bin/env bash
# The desktop entry and the AppStream metadata validate, agree on the
# application id, and list the optional addresses exactly when they are set.
#   metadata.sh SOURCE_DIR BUILD_DIR SCRATCH_DIR
source "$(dirname "$0")/lib.sh"
src=$1 build=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch/docs"

entry=$src/data/app.varlo.Varlo.desktop
metainfo=$build/data/app.varlo.Varlo.metainfo.xml
validate_desktop_entry "$entry"
validate_metainfo "$metainfo"
grep -qx 'Exec=varlo' "$entry" || fail "the desktop entry must start varlo from the PATH"
grep -q '<launchable type="desktop-id">app.varlo.Varlo.desktop</launchable>' "$metainfo" ||
    fail "the metadata does not name the desktop entry"

write() { # write OUTPUT [-Dvar=value...]
    local out=$1
    shift
    cmake -DTEMPLATE="$src/data/app.varlo.Varlo.metainfo.xml.in" -DOUTPUT="$out" -DDOCS_DIR="$scratch/docs" \
        -DVARLO_VERSION=1.2.0 -DVARLO_RELEASE_DATE=2026-01-02 "$@" -P "$src/cmake/VarloMetainfo.cmake"
}

write "$scratch/bare.xml"
validate_metainfo "$scratch/bare.xml"
! grep -q '<url\|<screenshot' "$scratch/bare.xml" || fail "addresses listed although none is set"
grep -q '<release version="1.2.0" date="2026-01-02" type="stable"/>' "$scratch/bare.xml" || fail "release"

touch "$scratch/docs/screenshot-light.png" "$scratch/docs/screenshot-dark.png"
write "$scratch/full.xml" -DVARLO_VERSION=1.2.0~rc1 -DVARLO_HOMEPAGE_URL=https://varlo.test/ \
    -DVARLO_SCREENSHOT_BASE_URL=https://files.varlo.test/docs/
validate_metainfo "$scratch/full.xml"
grep -q '<url type="homepage">https://varlo.test/</url>' "$scratch/full.xml" || fail "homepage"
[[ "$(grep -c '<image>https://files.varlo.test/docs/screenshot-[a-z]*.png</image>' "$scratch/full.xml")" == 2 ]] ||
    fail "screenshot addresses"
[[ "$(grep -c '<screenshot type="default">' "$scratch/full.xml")" == 1 ]] &&
    grep -m1 '<screenshot[ >]' "$scratch/full.xml" | grep -q default || fail "the first screenshot is the default one"
grep -q 'version="1.2.0~rc1" date="2026-01-02" type="development"' "$scratch/full.xml" || fail "pre-release"

# A screenshot that is not in docs/ is left out rather than linked.
rm "$scratch/docs/screenshot-dark.png"
write "$scratch/one.xml" -DVARLO_SCREENSHOT_BASE_URL=https://files.varlo.test/docs 2>/dev/null
[[ "$(grep -c '<image>' "$scratch/one.xml")" == 1 ]] || fail "missing screenshot listed"

# An address that would break the XML is refused.
! write "$scratch/bad.xml" '-DVARLO_HOMEPAGE_URL=https://varlo.test/?a=1&b=2' 2>/dev/null || fail "unsafe address accepted"
echo "metadata: ok"
