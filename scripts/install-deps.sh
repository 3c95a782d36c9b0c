#!/usr/bin/env bash
# install-deps.sh -- installs the Debian packages that building and testing need
# Prints the missing packages; installs them as root, otherwise asks for them and fails. A package list that cannot
# be read is named and passed over: a failure line names the packages that could not be installed.
set -eu

packages=(
    cmake make g++ clang libclang-rt-14-dev clang-format zlib1g-dev googletest python3
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev binutils-mingw-w64-i686
    wine64 xvfb xauth x11-apps icoutils imagemagick fonts-wine locales-all procps zip unzip gzip valgrind strace
    osslsigncode openssl sbsigntool python3-asn1crypto faketime
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
. "$(dirname "$0")/apt-update.sh"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# An index that cannot be read does not stop the install: the packages that are then installed decide.
apt_update "$log" install-deps
if ! apt-get install -y -qq "${missing[@]}" >"$log" 2>&1; then
    echo "install-deps: cannot install ${missing[*]}: $(grep -m 1 '^E:' "$log")$(apt_unread_cause)" >&2
    exit 1
fi
