#!/bin/sh
# `cmake --install` into a scratch folder: every file where a Linux desktop looks for it and
# nothing else; the desktop entry, the AppStream metainfo and the manual page pass their
# validators; the installed program answers --version.
#
#   check_install.sh <build folder> <source folder> <version> <application id>
set -eu
build=$1 source=$2 version=$3 id=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
cd "$work/root"
cat >"$work/expected" <<LIST
./usr/bin/strata
./usr/share/applications/$id.desktop
./usr/share/icons/hicolor/scalable/apps/$id.svg
./usr/share/man/man1/strata.1.gz
./usr/share/metainfo/$id.metainfo.xml
LIST
find . -type f | sort >"$work/installed"
diff -u "$work/expected" "$work/installed" || fail "installed files differ from the list above"

desktop=usr/share/applications/$id.desktop
metainfo=usr/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate: $desktop"
# --no-net: the screenshots' web addresses are checked for form, not fetched.
appstreamcli validate --no-net --strict "$metainfo" || fail "appstreamcli validate: $metainfo"

# They name each other, the icon and the program.
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry names another icon"
grep -qx "Exec=strata" "$desktop" || fail "the desktop entry starts another program"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo launches another desktop entry"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo's release is not $version"
grep -q '<svg' "usr/share/icons/hicolor/scalable/apps/$id.svg" || fail "the icon is no SVG"
# Every screenshot it names is one of the repository's images.
shots=$(sed -n 's#.*<image>.*/\([^/<]*\)</image>.*#\1#p' "$metainfo")
[ -n "$shots" ] || fail "the metainfo names no screenshots"
for shot in $shots; do
    [ -f "$source/data/screenshots/$shot" ] || fail "no data/screenshots/$shot"
done

# The manual page renders without a warning.
warnings=$(zcat usr/share/man/man1/strata.1.gz | LC_ALL=C.UTF-8 groff -man -ww -z -K utf8 2>&1)
[ -z "$warnings" ] || fail "groff: $warnings"

# The installed program runs (inside a private network namespace, as every start of it here).
answer=$("$source/tools/netns" ./usr/bin/strata --version)
[ "$answer" = "strata $version" ] || fail "strata --version said: $answer"
echo "installed and valid: $(tr '\n' ' ' <"$work/installed")"
