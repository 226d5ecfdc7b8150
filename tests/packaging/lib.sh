# Shared by the packaging tests. Each test prints what it checks and stops at the first fault.
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

icon_sizes=(16 22 24 32 48 64 128 256 512)

# The files an installation holds, relative to its prefix, sorted.
expected_files() {
    local size
    {
        for size in "${icon_sizes[@]}"; do
            echo "share/icons/hicolor/${size}x${size}/apps/app.varlo.Varlo.png"
        done
        printf '%s\n' \
            share/icons/hicolor/scalable/apps/app.varlo.Varlo.svg \
            bin/varlo \
            bin/varlo-report \
            share/applications/app.varlo.Varlo.desktop \
            share/doc/varlo/changelog.gz \
            share/doc/varlo/copyright \
            share/man/man1/varlo.1.gz \
            share/man/man1/varlo-report.1.gz \
            share/metainfo/app.varlo.Varlo.metainfo.xml
    } | LC_ALL=C sort
}

# Every icon is an image of the size its folder names.
check_icons() {
    local root=$1/share/icons/hicolor size description
    for size in "${icon_sizes[@]}"; do
        description=$(file -b "$root/${size}x${size}/apps/app.varlo.Varlo.png")
        [[ "$description" == "PNG image data, $size x $size, 8-bit/color RGBA"* ]] ||
            fail "the ${size}x${size} icon is $description"
    done
    xmllint --noout "$root/scalable/apps/app.varlo.Varlo.svg" || fail "the scalable icon is not well-formed"
    [[ "$(file -b "$root/scalable/apps/app.varlo.Varlo.svg")" == "SVG Scalable Vector Graphics image"* ]] ||
        fail "the scalable icon is not an SVG image"
}

# The regular files and links under a folder, relative to it, sorted.
files_under() {
    (cd "$1" && find . -type f -o -type l) | sed 's|^\./||' | LC_ALL=C sort
}

same_lists() {
    local what=$1 expected=$2 actual=$3
    if [[ "$expected" != "$actual" ]]; then
        diff <(echo "$expected") <(echo "$actual") >&2 || true
        fail "$what differs from the expected list (< expected, > actual)"
    fi
}

# desktop-file-utils before 0.27 predates SingleMainWindow (Desktop Entry 1.5)
# and reports it as an error; every other error counts.
validate_desktop_entry() {
    local report
    report=$(desktop-file-validate "$1" 2>&1 || true)
    [[ -z "$report" ]] || echo "$report"
    if grep -v 'file contains key "SingleMainWindow"' <<<"$report" | grep -q ': error: '; then
        fail "desktop-file-validate reports errors in $1"
    fi
}

validate_metainfo() {
    appstreamcli validate --no-net --pedantic "$1" || fail "appstreamcli rejects $1"
}

# The package's file name, control fields and contents. Usage: check_deb DEB VERSION
check_deb() {
    local deb=$1 version=$2
    local arch
    arch=$(dpkg --print-architecture)
    [[ "$(basename "$deb")" == "varlo_${version}_${arch}.deb" ]] || fail "unexpected package name $deb"
    [[ "$(dpkg-deb --field "$deb" Package)" == varlo ]] || fail "Package field"
    [[ "$(dpkg-deb --field "$deb" Version)" == "$version" ]] || fail "Version field"
    [[ "$(dpkg-deb --field "$deb" Architecture)" == "$arch" ]] || fail "Architecture field"
}
