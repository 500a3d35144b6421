#!/usr/bin/env bash
# The Debian package, made from this build: its control fields and content list, an install with dpkg into a
# throw-away root, the installed plug-ins found by hosts there and working programs, removal leaving nothing behind,
# and lintian without errors.
# Usage: package.sh SOURCE_DIR BUILD_DIR LV2_URI
set -euo pipefail
root=${1:?usage: package.sh SOURCE_DIR BUILD_DIR LV2_URI}
build=${2:?}
uri=${3:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/check.sh"

deb="$work/tolmar-vez.deb"
# Packed with gzip, which takes a fraction of xz's time; the content is the same.
TOLMAR_DEB_COMPRESSION=gzip "$root/scripts/make-deb" "$build" "$deb" >/dev/null
field() { dpkg-deb --field "$deb" "$1"; }
depends_on() { field Depends | tr ',' '\n' | sed 's/^ *//' | grep -q "^$1\( \|$\)" || { field Depends; return 1; }; }

check "package name" equals "$(field Package)" tolmar-vez
check "version from the project" equals "$(field Version)" "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
check "architecture" equals "$(field Architecture)" amd64
check "section" equals "$(field Section)" sound
for library in libc6 libstdc++6 libasound2 libfftw3-single3 libfreetype6 libharfbuzz0b libfontconfig1 libfribidi0 \
    libunibreak1 libthai0 libpng16-16 libx11-6 libxext6 libxrandr2 libxinerama1 libxcursor1 libxrender1; do
    check "depends on $library" depends_on "$library"
done
check "no dependency on the build's development packages" bash -c "! dpkg-deb --field '$deb' Depends | grep -- '-dev'"

dpkg-deb --contents "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; print substr($0, 6) }' | sed 's/ -> .*//' >"$work/contents"
for path in "./usr/lib/vst3/Tolmar Vez.vst3/Contents/x86_64-linux/Tolmar Vez.so" \
    "./usr/lib/lv2/Tolmar Vez.lv2/Tolmar Vez.so" "./usr/lib/lv2/Tolmar Vez.lv2/manifest.ttl" \
    "./usr/lib/lv2/Tolmar Vez.lv2/dsp.ttl" "./usr/lib/lv2/Tolmar Vez.lv2/ui.ttl" \
    ./usr/bin/tolmar-vez ./usr/bin/tolmar-render ./usr/share/applications/tolmar-vez.desktop \
    ./usr/share/icons/hicolor/512x512/apps/tolmar-vez.png ./usr/share/man/man1/tolmar-render.1.gz \
    ./usr/share/man/man1/tolmar-vez.1.gz ./usr/share/doc/tolmar-vez/copyright ./usr/share/doc/tolmar-vez/changelog.gz; do
    check "contains $path" grep -qxF "$path" "$work/contents"
done
check "nothing outside /usr" bash -c "! grep -v '^\./\(usr/.*\)\?$' '$work/contents'"

# A throw-away root with an empty package database. Its dependencies are not in it, hence --force-depends.
target="$work/root"
mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates" "$target/var/lib/dpkg/triggers"
touch "$target/var/lib/dpkg/status"
dpkg_in_root() { dpkg --root="$target" --log=/dev/null --force-not-root --force-depends "$@"; }
check "dpkg -i installs it" dpkg_in_root -i "$deb"
check "dpkg knows it as installed" bash -c "dpkg --root='$target' -s tolmar-vez | grep -qx 'Status: install ok installed'"
check "installed files are those of the package" bash -c \
    "diff <(sed 's|^\./|/|; s|/$||' '$work/contents' | grep -v '^\.\?$' | sort) <(dpkg --root='$target' -L tolmar-vez | grep -v '^/\.$' | sort)"
check "a VST3 host finds the plug-in in /usr/lib/vst3" \
    bash -c "'$build/tools/hostinfo/tolmar-hostinfo' '$target/usr/lib/vst3/Tolmar Vez.vst3' | grep -q 'Tolmar Vez'"
check "an LV2 host finds the plug-in in /usr/lib/lv2" \
    env LV2_PATH="$target/usr/lib/lv2" HOME="$work" lv2info "$uri"
check "tolmar-render runs from /usr/bin" "$target/usr/bin/tolmar-render" --help
check "the desktop entry starts tolmar-vez with its icon" bash -c \
    "grep -qx 'Exec=tolmar-vez' '$target/usr/share/applications/tolmar-vez.desktop' && grep -qx 'Icon=tolmar-vez' '$target/usr/share/applications/tolmar-vez.desktop'"
check "manual page of tolmar-render reads" bash -c "man -l '$target/usr/share/man/man1/tolmar-render.1.gz' 2>&1 | grep -q -- '--effect'"
check "dpkg -r removes every file" bash -c "dpkg --root='$target' --log=/dev/null --force-not-root -r tolmar-vez >/dev/null && ! find '$target/usr' -type f | grep -q ."

lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
check "lintian reports no errors" bash -c "! grep '^E:' '$work/lintian.log'"
sed -n 's/^W: /lintian warning: /p' "$work/lintian.log"

finish
