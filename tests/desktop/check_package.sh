#!/bin/sh
# Builds the Debian package with CPack and checks it: its name, its fields, that it holds exactly
# what `cmake --install` installs, and that it depends on everything the program needs at run
# time on a fresh Debian 12 (the packages tools/dev installs for running it, and what the
# binary links).
#
#   check_package.sh <build folder> <source folder> <version> <application id>
set -eu
build=$1 source=$2 version=$3 id=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
deb="$work/strata_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack wrote: $(ls "$work")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = strata ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = sound ] || fail "Section: $(field Section)"
depends=$(field Depends)
recommends=$(field Recommends)
echo "Depends: $depends"
echo "Recommends: $recommends"
# One dependency per comma-separated entry; an entry may list alternatives.
has() { printf '%s\n' "$1" | tr ',' '\n' | sed 's/^ *//' | grep -Eq "^$2( |\$)"; }

# What tools/dev installs to run Strata; jackd2 is one JACK server of two, so a recommendation.
run_packages=$(sed -n '/^run_packages=(/,/^)/p' "$source/tools/dev" | sed '1d;$d')
[ -n "$run_packages" ] || fail "no run_packages in tools/dev"
for p in $run_packages; do
    [ "$p" = jackd2 ] && continue
    has "$depends" "$p" || fail "Depends lacks $p"
done
# What the program links, as dpkg-shlibdeps found it; the JACK library with its alternative.
for p in libqt6core6 libqt6gui6 libqt6qml6 libqt6quick6 libasound2 libstdc\\+\\+6 libc6; do
    has "$depends" "$p" || fail "Depends lacks $p"
done
has "$depends" "libjack-jackd2-0 \\(>= [^)]*\\) \\| libjack-0.125" ||
    fail "Depends lacks the JACK library (libjack-jackd2-0 | libjack-0.125)"
has "$recommends" "pipewire-jack \\| jackd2" || fail "Recommends lacks pipewire-jack | jackd2"

# Exactly what `cmake --install` installs.
cat >"$work/expected" <<LIST
./usr/bin/strata
./usr/share/applications/$id.desktop
./usr/share/icons/hicolor/scalable/apps/$id.svg
./usr/share/man/man1/strata.1.gz
./usr/share/metainfo/$id.metainfo.xml
LIST
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$work/contents"
diff -u "$work/expected" "$work/contents" || fail "the package holds other files than the list"
dpkg-deb -x "$deb" "$work/unpacked"
file "$work/unpacked/usr/bin/strata" | grep -q ', stripped' || fail "the program is not stripped"
echo "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
