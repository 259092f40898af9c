#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package (cpack -G DEB in build/), checks it with lintian, installs it on
# this machine with apt-get, converts a PNG, a BMP and a JPEG with /usr/bin/pictelle-batch as
# an unprivileged user, validates the AppStream metadata, finds both manual pages, removes
# the package and checks that none of its files is left. Needs root (CI runs it as root on a
# fresh Debian 12 machine).
#
# It leaves the machine as it found it, the packages apt-get pulled in aside: it refuses to
# run when Pictelle is installed already or when any file of the package exists, and removes
# the package again whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${PICTELLE_BUILD_DIR:-build}

fail() {
    echo "package-check: $*" >&2
    exit 1
}
[ "$(id -u)" -eq 0 ] || fail "run it as root: it installs and removes the package"

bash scripts/setup.sh
rm -f "$build_dir"/pictelle_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
debs=("$build_dir"/pictelle_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack wrote no pictelle_*.deb"
deb=$(realpath "${debs[0]}")
echo "package-check: built $(basename "$deb")"
dpkg-deb --field "$deb" Depends

# lintian's errors fail the check; its warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

if dpkg-query -W -f='${Status}' pictelle 2>/dev/null | grep -q 'installed'; then
    fail "pictelle is installed on this machine already; not touching it"
fi
while read -r path; do
    path=${path#.}
    if [ -e "$path" ] || [ -L "$path" ]; then
        [ -d "$path" ] && [ ! -L "$path" ] && continue
        fail "$path exists already; not overwriting it"
    fi
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t)

work=$(mktemp -d)
installed=no
cleanup() {
    if [ "$installed" = yes ]; then
        dpkg --purge pictelle >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
installed=yes
# Some slimmed images leave manual pages out of every package; these two must be there.
apt-get install -y -qq -o DPkg::Options::=--path-include=/usr/share/man/man1/pictelle* \
    "$deb" >/dev/null
dpkg-query -L pictelle | sort >"$work/listed"

# Converted as an ordinary user, who may not write the program folder /usr/lib/pictelle.
user=nobody
group=$(id -gn "$user")
mkdir -p "$work/home/pictures"
cp tests/data/package/sample.png tests/data/package/sample.bmp tests/data/package/sample.jpg \
    "$work/home/pictures/"
chown -R "$user:$group" "$work/home"
chmod 755 "$work"
(cd "$work/home" && setpriv --reuid="$user" --regid="$group" --clear-groups \
    env -i HOME="$work/home" PATH=/usr/bin:/bin \
    /usr/bin/pictelle-batch -p 50 pictures/sample.png pictures/sample.bmp pictures/sample.jpg) \
    >"$work/said" 2>&1 || { cat "$work/said"; fail "pictelle-batch failed"; }
[ "$(cat "$work/said")" = done ] || { cat "$work/said"; fail "pictelle-batch did not say done"; }
for pair in "tsample.png:PNG image data, 32 x 24" "tsample.bmp:PC bitmap.*32 x 24" \
    "tsample.jpg:JPEG image data.* 32x24"; do
    file "$work/home/pictures/${pair%%:*}" | grep -q "${pair#*:}" \
        || fail "${pair%%:*} is not a 32 x 24 thumbnail: $(file "$work/home/pictures/${pair%%:*}")"
done
[ -e "$work/home/.cache/Pictelle/temp.bmp" ] || fail "the scratch files did not go to the cache"
echo "package-check: converted a PNG, a BMP and a JPEG as $user"

# The window finds its libraries, plugins and fonts: still up after three seconds.
status=0
(cd "$work/home" && setpriv --reuid="$user" --regid="$group" --clear-groups \
    env -i HOME="$work/home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
    timeout 3 /usr/bin/pictelle) >"$work/said" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$work/said"; fail "the window ended at once (status $status)"; }
echo "package-check: the window starts"

appstreamcli validate --no-net /usr/share/metainfo/example.quorvane.pictelle.metainfo.xml
man -w pictelle >/dev/null && man -w pictelle-batch >/dev/null || fail "a manual page is missing"
echo "package-check: $(man -w pictelle-batch)"

apt-get remove -y -qq pictelle >/dev/null
left=()
while read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || continue
    # A folder stays only while another package still uses it.
    if [ -d "$path" ] && [ ! -L "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1; then
        continue
    fi
    left+=("$path")
done <"$work/listed"
dpkg --purge pictelle >/dev/null 2>&1
installed=no
[ ${#left[@]} -eq 0 ] || fail "left after removal: ${left[*]}"
echo "package-check: removed; nothing of the package is left"
