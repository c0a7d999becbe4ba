#!/usr/bin/env bash
# The installed tree and the Debian package, as a user gets them.
#   InstallTest.sh install BUILD_DIR MEDIA_DIR   cmake --install into a scratch prefix
#   InstallTest.sh package BUILD_DIR MEDIA_DIR   cpack -G DEB, unpacked into a scratch root
# Both validate the desktop entry, the metainfo and the man page, and convert
# the sample clip with the installed tarnconv, whose settings must land in
# the user's configuration folder.
set -euo pipefail
mode=$1 build=$2 media=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarn-$mode.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

case "$mode" in
  install)
    prefix=$scratch/prefix
    cmake --install "$build" --prefix "$prefix" >/dev/null ;;
  package)
    cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null
    deb=$(ls "$scratch"/out/*.deb)
    info=$(dpkg-deb -I "$deb")
    echo "$info" | grep -E '^ (Package|Version|Depends):'
    for dep in libavcodec59 libavformat59 libavutil57 libswscale6 libswresample4 libavfilter8 libqt6widgets6; do
      echo "$info" | grep -q "Depends:.*\b$dep\b" || fail "the package does not depend on $dep"
    done
    dpkg-deb -x "$deb" "$scratch/root"
    prefix=$scratch/root/usr ;;
  *) fail "unknown mode $mode" ;;
esac

id=org.tarn.Mp4VideoConverter
share=$prefix/share
source=$(cd "$(dirname "$0")/../.." && pwd)
for f in bin/tarnconv bin/tarnmp4videoconverter \
         share/tarnmp4videoconverter/tarnmp4format.ini share/tarnmp4videoconverter/tarnmp4videoconverter.ini \
         share/tarnmp4videoconverter/skin/lvBack.bmp share/tarnmp4videoconverter/help/index.html \
         share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
         share/icons/hicolor/64x64/apps/$id.png share/icons/hicolor/128x128/apps/$id.png \
         share/man/man1/tarnconv.1.gz share/doc/tarnmp4videoconverter/copyright; do
  [ -s "$prefix/$f" ] || fail "missing $f"
done
[ -x "$prefix/bin/tarnconv" ] || fail "tarnconv is not executable"

desktop-file-validate "$share/applications/$id.desktop" || fail "desktop entry"
grep -qx 'Exec=tarnmp4videoconverter %F' "$share/applications/$id.desktop" || fail "Exec line"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml" || fail "metainfo"
# The licence: the GPL 2 text in the source, its name in the metainfo, the
# Debian copyright file in the tree, and the credits the about box opens.
grep -q 'Version 2, June 1991' "$source/LICENSE" || fail "LICENSE is not the GPL version 2"
if [ -f /usr/share/common-licenses/GPL-2 ]; then
  cmp -s "$source/LICENSE" /usr/share/common-licenses/GPL-2 || fail "LICENSE differs from the GPL 2 text"
fi
grep -q '<project_license>GPL-2.0-or-later</project_license>' "$share/metainfo/$id.metainfo.xml" \
  || fail "metainfo names no GPL-2.0-or-later licence"
copyright=$share/doc/tarnmp4videoconverter/copyright
head -1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  || fail "copyright is not in the machine-readable format"
grep -qx 'License: GPL-2+' "$copyright" || fail "copyright names no GPL-2+ licence"
grep -q '/usr/share/common-licenses/GPL-2' "$copyright" || fail "copyright does not point at the GPL text"
grep -q 'id="credits"' "$share/tarnmp4videoconverter/help/index.html" || fail "the help page has no credits"

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$share/man/man1/tarnconv.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page: $warnings"

# A first start: no settings yet, nothing beside the program.
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config
mkdir -p "$HOME"
version=$("$prefix/bin/tarnconv" --version)
[ "$version" = "Tarn MP4 Video Converter 1.32" ] || fail "tarnconv --version said: $version"
profiles=$("$prefix/bin/tarnconv" --list-profiles)
[ "$(echo "$profiles" | grep -c '^  *[0-9]')" -eq 51 ] || fail "expected 51 profiles, got: $profiles"
"$prefix/bin/tarnconv" -q -p 1 -o "$scratch/out" --threads 1 "$media/clip.mp4" || fail "the conversion failed"
[ -s "$scratch/out/clip_(new).mp4" ] || fail "no output"
[ -s "$XDG_CONFIG_HOME/tarnmp4videoconverter/tarnmp4videoconverter.ini" ] || fail "settings not seeded"
echo "PASS: $mode"
