#!/usr/bin/env bash
# wine32-runtime.sh -- the 32-bit Wine that runs the shipped program: Debian's i386 Wine under QEMU user emulation
# This kernel runs no 32-bit code. The i386 Wine and QEMU are downloaded with a private apt configuration (the
# system's package state is untouched) from the mirror of the machine's own apt sources, unpacked into a root in a
# cache outside the checkout, and checked against the pinned versions; a root of these versions is reused as it is.
# An index that cannot be read (a mirror half synced) is named and passed over: the pinned downloads decide.
# Exits non-zero with a line saying what is missing when the runtime cannot be made.
set -u
. "$(dirname "$0")/wine-env.sh" ""
. "$(dirname "$0")/apt-update.sh"
WINE32_VERSION=8.0~repack-4
QEMU_VERSION=1:10.0.2+ds-2+deb13u1~bpo12+1
host_wine=$(dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null)
stamp="wine32 $WINE32_VERSION qemu-user $QEMU_VERSION host-wine $host_wine"
fail() {
    echo "wine32-runtime: $*" >&2
    exit 1
}

[ "$(cat "$wine32_root/.runtime-stamp" 2>/dev/null)" = "$stamp" ] && exit 0
mkdir -p "$wine32_cache" || fail "cannot create the cache $wine32_cache"
# Another checkout may be making the same root: one at a time, and the second one reuses it.
exec {lock}>"$wine32_cache/lock"
flock "$lock"
[ "$(cat "$wine32_root/.runtime-stamp" 2>/dev/null)" = "$stamp" ] && exit 0
echo "wine32-runtime: making the 32-bit Wine in $wine32_root"
started=$(date +%s)
work=$wine32_cache/work
root=$wine32_root.new
rm -rf "$work" "$root"
trap 'rm -rf "$work" "$root"' EXIT
mkdir -p "$work/lists/partial" "$work/archives/partial" "$root"
: >"$work/status"

# The main archive (its backports suite too) and the security archive of the machine's own sources, read even
# where their lists were never downloaded.
targets=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' 2>/dev/null)
debian=$(awk '$2 == "bookworm" {print $1; exit}' <<<"$targets")
security=$(awk '$2 == "bookworm-security" {print $1; exit}' <<<"$targets")
[ -n "$debian" ] || fail "no bookworm suite in the machine's apt sources"
for suite in "$debian bookworm" "$debian bookworm-updates" "$debian bookworm-backports" "$security bookworm-security"; do
    [ "${suite% *}" = "${suite#* }" ] || echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $suite main"
done >"$work/sources.list"
cat >"$work/apt.conf" <<EOF
APT::Architecture "i386"; APT::Architectures { "i386"; "amd64"; }; APT::Sandbox::User "root";
APT::Install-Recommends "false"; Dir::State "$work"; Dir::State::status "$work/status"; Dir::Cache "$work";
Dir::Cache::pkgcache ""; Dir::Cache::srcpkgcache ""; Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "$work/none"; Dir::Etc::Preferences "$work/none"; Dir::Etc::PreferencesParts "$work/none";
EOF
export APT_CONFIG=$work/apt.conf
apt_update "$work/apt.log" wine32-runtime
apt-get -qq --download-only install "wine32=$WINE32_VERSION" "libwine:i386=$WINE32_VERSION" >"$work/apt.log" 2>&1 ||
    fail "cannot download wine32 $WINE32_VERSION (i386): $(grep -m 1 '^E:' "$work/apt.log")$(apt_unread_cause)"
(cd "$work/archives" && apt-get -qq download "qemu-user:amd64=$QEMU_VERSION") >"$work/apt.log" 2>&1 ||
    fail "cannot download qemu-user $QEMU_VERSION from bookworm-backports: $(grep -m 1 '^E:' "$work/apt.log")$(apt_unread_cause)"
for deb in "$work"/archives/*.deb; do
    dpkg-deb -x "$deb" "$root" || fail "cannot unpack $(basename "$deb")"
done

# The versions that were unpacked, not only those asked for, and the files this runtime needs.
for pin in "wine32 i386 $WINE32_VERSION" "libwine i386 $WINE32_VERSION" "qemu-user amd64 $QEMU_VERSION"; do
    read -r package arch version <<<"$pin"
    deb=$(ls "$work/archives/${package}_"*"_$arch.deb" 2>/dev/null)
    [ -n "$deb" ] && [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$package:$arch $version was not unpacked"
done
for file in usr/bin/qemu-i386 usr/lib/wine/wine usr/lib/wine/wineserver32 usr/i686-w64-mingw32/lib/zlib1.dll \
    lib/ld-linux.so.2; do
    [ -e "$root/$file" ] || fail "the unpacked root has no $file"
done
ldconfig -r "$root" 2>/dev/null

# Wine starts every process by executing its bindir's wine again: that becomes the loader under QEMU. The host's
# wineserver serves 32-bit clients of its own version; otherwise the i386 one runs under QEMU.
mv "$root/usr/lib/wine/wine" "$root/usr/lib/wine/wine.real"
under_qemu='#!/bin/sh\nroot=$(cd "$(dirname "$0")/../../.." && pwd)\nexec "$root/usr/bin/qemu-i386" -L "$root"'
printf "$under_qemu"' -0 "$root/usr/lib/wine/wine" "$root/usr/lib/wine/wine.real" "$@"\n' >"$root/usr/lib/wine/wine"
if [ "$host_wine" = "$WINE32_VERSION" ]; then
    printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' >"$root/usr/lib/wine/wineserver"
else
    printf "$under_qemu"' "$root/usr/lib/wine/wineserver32" "$@"\n' >"$root/usr/lib/wine/wineserver"
fi
chmod 755 "$root/usr/lib/wine/wine" "$root/usr/lib/wine/wineserver"
echo "$stamp" >"$root/.runtime-stamp"
rm -rf "$wine32_root"
mv "$root" "$wine32_root" || fail "cannot move the root into $wine32_root"
echo "wine32-runtime: ready in $(($(date +%s) - started)) s ($(du -sm "$wine32_root" | cut -f1) MB)"
