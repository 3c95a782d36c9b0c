#!/usr/bin/env bash
# release_test.sh CASE SOURCES WORK [UPDATER] -- scripts/release.sh on the demo files, with a code-signing
# certificate made here with openssl; WORK is emptied first. UPDATER, when given, is packed instead of the default.
#   signed:         the signature verifies with osslsigncode's own verify, the checksum file matches, and a second
#                   release from other folders, the password from the environment, gives the same bytes; so do
#                   two unsigned releases; a wrong password or a refusing timestamp server stops the release
#   tampered:       one payload byte changed after signing fails osslsigncode's verify and the release's own
#   source-changed: a source changed after packing fails the release's verification, which names it
#   missing-source: a release without two sources names both, fails, and writes nothing
#   for-update-run: a signed release in WORK/package with its sources beside it, for the update run under Wine
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
case_name=$1
demo=$2
work=$3
[ -z "${4:-}" ] || export UPDATER=$4
release=$root/scripts/release.sh
package_name=Ostrevan_Patch102.exe
failures=0

check() {
    local message=$1
    shift
    if "$@"; then
        echo "ok: $message"
    else
        echo "FAIL: $message"
        failures=$((failures + 1))
    fi
}

rm -rf "$work"
mkdir -p "$work/tmp"
# A working folder that a release leaves behind stays in sight.
export TMPDIR=$work/tmp

# sources DIR -- the demo's seven files, without the package that stands beside them.
sources() {
    mkdir -p "$1"
    for name in $(python3 "$root/scripts/check_payloads.py" sources); do
        cp "$demo/$name" "$1/$name"
    done
}

# certificate -- a self-signed code-signing certificate in $work/cert.pem, with its key in $work/test.pfx.
certificate() {
    printf 'release test\n' >"$work/pass"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Ostrevan Release Test" \
        -addext extendedKeyUsage=codeSigning -addext keyUsage=critical,digitalSignature \
        -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null &&
        openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/test.pfx" \
            -passout "file:$work/pass" || { echo "FAIL: cannot make the test certificate"; exit 1; }
}

# signed_release OUT SOURCES -- a release signed with the test certificate, the password in a file.
signed_release() {
    bash "$release" SOURCES="$2" OUT="$1" SIGN_PFX="$work/test.pfx" SIGN_PASS_FILE="$work/pass" >"$1.log" 2>&1
}

os_verify() {
    osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$1.verify" 2>&1
}

no_temporary_files() {
    ! ls -d "$work/tmp"/ostrevan-release.* 2>/dev/null
}

# flip_payload_byte EXE ID -- one byte in the middle of payload resource ID, found by its bytes in the file.
flip_payload_byte() {
    wrestool -x --raw --type=10 --name="$2" --language=0 "$1" >"$work/resource" &&
        python3 -c 'import sys
exe, resource = sys.argv[1], open(sys.argv[2], "rb").read()
data = bytearray(open(exe, "rb").read())
at = data.find(resource)
assert at > 0 and data.find(resource, at + 1) < 0
data[at + len(resource) // 2] ^= 0x01
open(exe, "wb").write(data)' "$1" "$work/resource"
}

case "$case_name" in
signed)
    certificate
    sources "$work/a"
    (cd "$work/a" && sha256sum ./* >"$work/a.sha256" && touch -d '2001-01-01' ./*)
    check "a signed release succeeds" signed_release "$work/out-a" "$work/a"
    cat "$work/out-a.log"
    check "the sources are untouched" bash -c "cd '$work/a' && sha256sum --quiet -c '$work/a.sha256' &&
        [ \$(ls | wc -l) = 7 ] && [ -z \"\$(find . -type f -newermt 2001-01-02)\" ]"
    check "the release says it is signed" grep -q '^  signed: *yes, Authenticode SHA-256 by CN = Ostrevan Release Test' "$work/out-a.log"
    check "it prints the package's path, size and checksum" bash -c "cd '$work/out-a' &&
        grep -q \"^  package: *\$PWD/$package_name\$\" ../out-a.log &&
        grep -q \"^  size: *\$(stat -c %s $package_name) bytes\" ../out-a.log &&
        grep -q \"^  sha256: *\$(sha256sum $package_name | cut -c1-64) \" ../out-a.log"
    check "osslsigncode verify accepts the signature" os_verify "$work/out-a/$package_name"
    check "the signature uses SHA-256" grep -q '^Message digest algorithm *: SHA256' "$work/out-a/$package_name.verify"
    check "the checksum file matches" bash -c "cd '$work/out-a' && sha256sum -c $package_name.sha256"
    check "the release's verification accepts it" bash "$release" verify "$work/out-a/$package_name" "$work/a" \
        SIGN_CA="$work/cert.pem"
    # Other folders, another second, the password from the environment: the same bytes.
    sources "$work/b/files"
    check "a release with the password in SIGN_PASS succeeds" \
        env SIGN_PASS="release test" bash "$release" SOURCES="$work/b/files" OUT="$work/out-b" SIGN_PFX="$work/test.pfx"
    check "the same sources and certificate give the same signed bytes" \
        cmp "$work/out-a/$package_name" "$work/out-b/$package_name"
    check "a wrong password stops the release before packing" bash -c "! env SIGN_PASS=wrong bash '$release' \
        SOURCES='$work/a' OUT='$work/out-wrong' SIGN_PFX='$work/test.pfx' >'$work/wrong.log' 2>&1 &&
        grep -q 'cannot read the certificate' '$work/wrong.log' && ! grep -q packing '$work/wrong.log' &&
        [ ! -e '$work/out-wrong' ]"
    # A timestamp server that is named is used: one that does not answer stops the release.
    check "a timestamp server that refuses stops the release, writing nothing" bash -c "! bash '$release' \
        SOURCES='$work/a' OUT='$work/out-ts' SIGN_PFX='$work/test.pfx' SIGN_PASS_FILE='$work/pass' \
        TIMESTAMP_URL=http://127.0.0.1:9/ >'$work/ts.log' 2>&1 && grep -q 'Connecting to http://127.0.0.1:9/' \
        '$work/ts.log' && [ ! -e '$work/out-ts' ]"
    check "an unsigned release succeeds" bash "$release" SOURCES="$work/a" OUT="$work/out-c"
    check "an unsigned release from other folders gives the same bytes" \
        bash -c "cd '$work/b' && bash '$release' SOURCES=files OUT=../out-d"
    check "the same sources give the same unsigned bytes" cmp "$work/out-c/$package_name" "$work/out-d/$package_name"
    check "the working folders are gone" no_temporary_files
    ;;
tampered)
    certificate
    sources "$work/a"
    check "a signed release succeeds" signed_release "$work/out" "$work/a"
    cp "$work/out/$package_name" "$work/tampered.exe"
    check "one byte of payload 1104 changes" flip_payload_byte "$work/tampered.exe" 1104
    check "osslsigncode verify accepts the untouched package" os_verify "$work/out/$package_name"
    check "osslsigncode verify rejects the changed package" bash -c "! osslsigncode verify -CAfile '$work/cert.pem' \
        -in '$work/tampered.exe' >'$work/tampered.verify' 2>&1"
    cat "$work/tampered.verify"
    check "the digests differ" grep -q 'MISMATCH' "$work/tampered.verify"
    check "the release's verification rejects it" bash -c "! bash '$release' verify '$work/tampered.exe' '$work/a' \
        SIGN_CA='$work/cert.pem' >'$work/verify.log' 2>&1"
    cat "$work/verify.log"
    check "and names the payload" grep -q '^  payload 1104 main.bin: .*: unpacks to other bytes\|^  payload 1104 main.bin: .*zlib' "$work/verify.log"
    ;;
source-changed)
    sources "$work/a"
    check "an unsigned release succeeds" bash "$release" SOURCES="$work/a" OUT="$work/out"
    check "its verification passes with the sources as packed" bash "$release" verify "$work/out/$package_name" "$work/a"
    # The same length, one byte different, far into the file.
    python3 -c 'import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
data[len(data) - 100] ^= 0x80
open(path, "wb").write(data)' "$work/a/patch1_ru.bin"
    check "its verification fails once a source changed" bash -c "! bash '$release' verify '$work/out/$package_name' \
        '$work/a' >'$work/verify.log' 2>&1"
    cat "$work/verify.log"
    check "and names that source alone" bash -c "grep -q '^  payload 1107 patch1_ru.bin: .*unpacks to other bytes' \
        '$work/verify.log' && [ \$(grep -c ': ok$' '$work/verify.log') = 6 ]"
    printf 'x' >>"$work/a/main.bin"
    bash "$release" verify "$work/out/$package_name" "$work/a" >"$work/verify.log" 2>&1
    check "a longer source fails on the size header" grep -q "^  payload 1104 main.bin: .*size header is not the source's size" \
        "$work/verify.log"
    ;;
missing-source)
    sources "$work/a"
    rm "$work/a/main.bin" "$work/a/patch1_de.bin"
    check "a release without two sources fails" bash -c "! bash '$release' SOURCES='$work/a' OUT='$work/out' \
        >'$work/release.log' 2>&1"
    cat "$work/release.log"
    check "it names main.bin" grep -q "$work/a/main.bin" "$work/release.log"
    check "it names patch1_de.bin" grep -q "$work/a/patch1_de.bin" "$work/release.log"
    check "it names no other source" bash -c "[ \$(grep -c 'missing source' '$work/release.log') = 2 ]"
    check "it writes no output folder" test ! -e "$work/out"
    check "it makes no working folder" no_temporary_files
    check "the sources are untouched" bash -c "[ \$(ls '$work/a' | wc -l) = 5 ]"
    ;;
for-update-run)
    certificate
    sources "$work/a"
    check "a signed release succeeds" signed_release "$work/package" "$work/a"
    cat "$work/package.log"
    check "osslsigncode verify accepts the signature" os_verify "$work/package/$package_name"
    rm -f "$work/package/$package_name.verify"
    # The update run compares the installed files with the sources beside the package.
    cp "$work/a"/* "$work/package/"
    ;;
*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

echo "$case_name: $failures failed"
[ $failures = 0 ]
