#!/usr/bin/env bash
# release.sh SOURCES=dir [OUT=dir] [UPDATER=exe] [SIGN_PFX=file [SIGN_PASS_FILE=file] [TIMESTAMP_URL=url]
#            [TSA_CA=file] [TIMESTAMP_TIMEOUT=s]]
#   -- packs the game's 1.02 files into Ostrevan_Patch102.exe, checks every payload, signs and timestamps it,
#      verifies the signature twice, writes its checksum
# release.sh verify PACKAGE SOURCES [SIGN_CA=file] [TSA_CA=file]
#   -- checks a written package again: its payloads against the sources, its checksum file, its signature
#
# Every signature is verified by two implementations that must agree: osslsigncode, which signed it, and a
# second one made for PE files and written elsewhere (scripts/check_signature.py: sbsigntool's sbverify for the
# image's digest, the signature and its chain, OpenSSL's ts -verify for the timestamp).
#
# Settings come as NAME=value arguments or from the environment (make passes its command line on). The
# certificate's password is read from SIGN_PASS_FILE, or else from the environment variable SIGN_PASS; never
# from the command line. The package is built in a fresh working folder; OUT receives it, with its .sha256
# file, only when every check has passed. Without a timestamp server the same sources, updater and certificate
# give the same bytes: the signing time is SOURCE_DATE_EPOCH, or else the certificate's start of validity.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
package_name=Ostrevan_Patch102.exe
description="Ostrevan Update 1.02"

fail() {
    echo "release: $*" >&2
    exit 1
}

# absolute PATH -- PATH from the directory the command was given in.
absolute() {
    case "$1" in
    /*) echo "$1" ;;
    *) echo "$PWD/$1" ;;
    esac
}

# verify_payloads PACKAGE SOURCES -- every payload read back with wrestool and unpacked with Python's zlib.
verify_payloads() {
    local report status
    report=$(python3 "$root/scripts/check_payloads.py" "$1" "$2")
    status=$?
    sed 's/^/  payload /' <<<"$report"
    [ $status = 0 ] || fail "$1 does not hold the sources of $2"
}

# is_signed PACKAGE -- whether the package carries an Authenticode signature.
is_signed() {
    # The certificate table, entry 4 of the optional header's data directories, is not empty.
    python3 -c 'import struct, sys
head = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", head, 0x3C)[0]
directories = pe + 24 + (96 if struct.unpack_from("<H", head, pe + 24)[0] == 0x10B else 112)
sys.exit(0 if struct.unpack_from("<II", head, directories + 4 * 8)[1] else 1)' "$1"
}

# verify_signature PACKAGE CA_FILE TSA_CA_FILE [LEAF_HASH] -- the signature, its chain up to CA_FILE, its timestamp
# up to TSA_CA_FILE and, when given, its signer, by both verifiers; the second one's findings in $second_check.
verify_signature() {
    local options=(-in "$1" -CAfile "$2" -TSA-CAfile "$3") first=ok second=ok report
    [ -z "${4:-}" ] || options+=(-require-leaf-hash "SHA256:$4")
    # Revocation lists are fetched from the network; the release checks the signature, not revocation.
    osslsigncode verify --help 2>&1 | grep -q -- -ignore-crl && options+=(-ignore-crl)
    # osslsigncode accepts a signature whose timestamp fails, at the present time: the release does not.
    if ! report=$(osslsigncode verify "${options[@]}" 2>&1) || ! grep -q 'Signature verification: ok' <<<"$report" ||
        grep -q 'Timestamp Server Signature verification: failed' <<<"$report"; then
        echo "$report" | sed 's/^/  /' >&2
        first=rejects
    fi
    second_check=$(/usr/bin/python3 "$root/scripts/check_signature.py" "$1" "$2" "$3") || second=rejects
    echo "$second_check"
    [ "$first" = "$second" ] || fail "the verifiers disagree on $1: osslsigncode $first it, the second check $second it"
    [ "$first" = ok ] || fail "the signature of $1 does not verify"
    echo "  signature ok (osslsigncode and the second check)"
}

if [ "${1:-}" = verify ]; then
    [ $# -ge 3 ] || fail "usage: release.sh verify PACKAGE SOURCES [SIGN_CA=file]"
    package=$(absolute "$2")
    sources=$(absolute "$3")
    shift 3
    for setting in "$@"; do
        case "$setting" in
        SIGN_CA=* | TSA_CA=*) export "$setting" ;;
        *) fail "unknown setting $setting" ;;
        esac
    done
    [ -f "$package" ] || fail "$package does not exist"
    verify_payloads "$package" "$sources"
    if [ -f "$package.sha256" ]; then
        (cd "$(dirname "$package")" && sha256sum --quiet -c "$(basename "$package").sha256") ||
            fail "$package does not match $package.sha256"
        echo "  checksum ok"
    fi
    if is_signed "$package"; then
        sign_ca=$(absolute "${SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}")
        verify_signature "$package" "$sign_ca" "$(absolute "${TSA_CA:-$sign_ca}")"
    else
        echo "  not signed"
    fi
    echo "release: $package holds $sources"
    exit 0
fi

for setting in "$@"; do
    case "$setting" in
    SOURCES=* | OUT=* | UPDATER=* | SIGN_PFX=* | SIGN_PASS_FILE=* | TIMESTAMP_URL=* | TSA_CA=* | TIMESTAMP_TIMEOUT=*)
        export "$setting" ;;
    SIGN_PASS=*) fail "the password goes into SIGN_PASS_FILE or the environment, not the command line" ;;
    *) fail "unknown setting $setting" ;;
    esac
done

# Everything is checked before anything is written.
[ -n "${SOURCES:-}" ] || fail "name the folder of the 1.02 files: SOURCES=/path/to/files"
sources=$(absolute "$SOURCES")
out=$(absolute "${OUT:-$root/build/release}")
updater=$(absolute "${UPDATER:-$root/build/win32/updater.exe}")
[ -d "$sources" ] || fail "$sources is not a folder"
bash "$root/scripts/pack-folder.sh" check "$sources" || fail "$sources lacks the source files named above"
python3 "$root/scripts/check_payloads.py" notes "$sources/Patch102Notes.txt" ||
    fail "the release notes must be Windows-1252 text, the code page the updater shows them in"
[ -f "$updater" ] || fail "$updater is missing (make build)"
for tool in wrestool python3 sha256sum; do
    command -v "$tool" >/dev/null || fail "$tool is missing (make deps)"
done
pfx=
if [ -n "${SIGN_PFX:-}" ]; then
    pfx=$(absolute "$SIGN_PFX")
    [ -f "$pfx" ] || fail "$pfx does not exist"
    for tool in osslsigncode openssl sbverify; do
        command -v "$tool" >/dev/null || fail "$tool is missing (make deps)"
    done
    /usr/bin/python3 -c 'import asn1crypto' 2>/dev/null || fail "python3-asn1crypto is missing (make deps)"
    if [ -n "${SIGN_PASS_FILE:-}" ]; then
        pass_file=$(absolute "$SIGN_PASS_FILE")
        [ -f "$pass_file" ] || fail "$pass_file does not exist"
        openssl_pass=(-passin "file:$pass_file")
    elif [ -n "${SIGN_PASS+set}" ]; then
        openssl_pass=(-passin env:SIGN_PASS)
    else
        fail "give the password of $pfx in SIGN_PASS_FILE=file or the environment variable SIGN_PASS"
    fi
    # pfx_certificates [OPTIONS...] -- the certificates of the pfx, in PEM; older files need the legacy ciphers.
    pfx_certificates() {
        openssl pkcs12 -in "$pfx" -nokeys "${openssl_pass[@]}" "$@" 2>/dev/null ||
            openssl pkcs12 -legacy -in "$pfx" -nokeys "${openssl_pass[@]}" "$@" 2>/dev/null
    }
    leaf=$(pfx_certificates -clcerts | openssl x509 2>/dev/null) && [ -n "$leaf" ] ||
        fail "cannot read the certificate of $pfx with the password given"
    chain=$(pfx_certificates)
    leaf_hash=$(openssl x509 -outform DER <<<"$leaf" | sha256sum | cut -d' ' -f1)
    subject=$(openssl x509 -noout -subject -nameopt oneline <<<"$leaf" | sed 's/^subject= *//')
    not_before=$(openssl x509 -noout -startdate <<<"$leaf" | cut -d= -f2)
    sign_time=${SOURCE_DATE_EPOCH:-$(date -u -d "$not_before" +%s)}
elif [ -n "${TIMESTAMP_URL:-}" ]; then
    fail "TIMESTAMP_URL without SIGN_PFX: there is no signature to timestamp"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrevan-release.XXXXXX") || fail "cannot make a working folder"
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

# The packer reads its sources in its current directory: copies of them, beside a copy of the updater.
pack=$work/pack
mkdir "$pack"
for source in $(python3 "$root/scripts/check_payloads.py" sources); do
    cp "$sources/$source" "$pack/$source" || fail "cannot copy $sources/$source"
done
cp "$updater" "$pack/$package_name" || fail "cannot copy $updater"
echo "release: packing $sources into a copy of $updater"
bash "$root/scripts/pack-folder.sh" pack "$pack" || fail "the packer failed"
package=$pack/$package_name

# Read back with another decoder than the packer's, against the sources as they are now.
echo "release: checking every payload against $sources"
verify_payloads "$package" "$sources"

signed="no"
if [ -n "$pfx" ]; then
    # The chain up to a root that the signature is checked against: the pfx's own, and the system's roots.
    { echo "$chain"; [ -f /etc/ssl/certs/ca-certificates.crt ] && cat /etc/ssl/certs/ca-certificates.crt; } >"$work/ca.pem"
    options=(-pkcs12 "$pfx" -h sha256 -n "$description" -time "$sign_time")
    [ -z "${TIMESTAMP_URL:-}" ] || options+=(-ts "$TIMESTAMP_URL")
    echo "release: signing with $subject${TIMESTAMP_URL:+, timestamped by $TIMESTAMP_URL}"
    # The password reaches osslsigncode through a file or a pipe, never its arguments. A timestamp server that
    # takes the connection and never answers would keep it waiting for good.
    wait_s=${TIMESTAMP_TIMEOUT:-60}
    if [ -n "${pass_file:-}" ]; then
        options+=(-readpass "$pass_file")
        timeout "$wait_s" osslsigncode sign "${options[@]}" -in "$package" -out "$work/signed.exe" >"$work/sign.log" 2>&1
    else
        timeout "$wait_s" osslsigncode sign "${options[@]}" -readpass <(printf '%s' "$SIGN_PASS") -in "$package" \
            -out "$work/signed.exe" >"$work/sign.log" 2>&1
    fi
    status=$?
    if [ $status != 0 ]; then
        sed 's/^/  /' "$work/sign.log" >&2
        [ $status != 124 ] || fail "the timestamp server $TIMESTAMP_URL did not answer within $wait_s s; nothing written"
        fail "osslsigncode could not sign $package${TIMESTAMP_URL:+ with a timestamp from $TIMESTAMP_URL}; nothing written"
    fi
    echo "release: verifying the signature"
    verify_signature "$work/signed.exe" "$work/ca.pem" "$(absolute "${TSA_CA:-$work/ca.pem}")" "$leaf_hash"
    package=$work/signed.exe
    signed="yes, Authenticode SHA-256 by $subject, signing time $(date -u -d "@$sign_time" '+%Y-%m-%d %H:%M:%S UTC'), "
    stamp=$(sed -n 's/^  timestamp (second check): //p' <<<"$second_check")
    if [ -n "$stamp" ]; then signed+="timestamp $stamp"; else signed+="no timestamp"; fi
fi

checksum=$(sha256sum "$package" | cut -d' ' -f1)
mkdir -p "$out" || fail "cannot make $out"
cp "$package" "$out/.$package_name.part" && mv -f "$out/.$package_name.part" "$out/$package_name" &&
    echo "$checksum  $package_name" >"$out/$package_name.sha256" || fail "cannot write into $out"
echo "release: done"
echo "  package:  $out/$package_name"
echo "  size:     $(stat -c %s "$out/$package_name") bytes"
echo "  sha256:   $checksum ($out/$package_name.sha256)"
echo "  signed:   $signed"
