#!/usr/bin/env bash
# release_test.sh CASE PACKAGE_DIR WORK [UPDATER] -- scripts/release.sh on the demo files (taken from PACKAGE_DIR),
# with a code-signing certificate made here with openssl; WORK is emptied first, UPDATER is packed when given.
#   signed:     a signed release verifies (osslsigncode and the release's own check) and prints what it wrote; the
#               same bytes come from other folders and the password in the environment; a wrong password or a
#               refusing timestamp server stops it, writing nothing
#   tampered:   a payload byte changed after signing, or a source changed after packing, fails verification, which
#               names the payload; missing sources stop the release before anything is written
#   for-update-run: a signed release in WORK/package with its sources beside it, for the update run under Wine
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
case_name=$1 demo=$(cd "$2" && pwd) work=$3
[ -z "${4:-}" ] || export UPDATER=$4
release=$root/scripts/release.sh
exe=Ostrevan_Patch102.exe
failures=0
check() { # MESSAGE COMMAND... -- a check that passes when the command succeeds
    if bash -c "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}

rm -rf "$work"
mkdir -p "$work/tmp"
export TMPDIR=$work/tmp # a working folder that a release leaves behind stays in sight
cd "$work" || exit 1
sources() { # DIR -- the demo's seven files, without the package beside them
    mkdir -p "$1" && for name in $(python3 "$root/scripts/check_payloads.py" sources); do cp "$demo/$name" "$1/"; done
}
printf 'release test\n' >pass
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Ostrevan Release Test" -keyout key.pem -out cert.pem \
    -addext extendedKeyUsage=codeSigning -addext keyUsage=critical,digitalSignature 2>/dev/null &&
    openssl pkcs12 -export -inkey key.pem -in cert.pem -out test.pfx -passout file:pass || exit 1
sources a
signed="SOURCES=a SIGN_PFX=test.pfx SIGN_PASS_FILE=pass"
export release exe

case "$case_name" in
signed)
    check "a signed release succeeds" "bash $release $signed OUT=out-a >a.log 2>&1"
    check "it names its package, checksum and signer" "grep -q \"^  package: *$work/out-a/$exe\$\" a.log &&
        grep -q \"^  sha256: *\$(sha256sum out-a/$exe | cut -c1-64) \" a.log && grep -q 'signed: *yes.*Release Test' a.log"
    check "osslsigncode verify accepts the SHA-256 signature" "osslsigncode verify -CAfile cert.pem -in out-a/$exe |
        grep -q '^Message digest algorithm *: SHA256'"
    check "the checksum file matches" "cd out-a && sha256sum -c $exe.sha256"
    check "the release's verification accepts it" "bash $release verify out-a/$exe a SIGN_CA=cert.pem"
    sources b/files
    check "other folders and the password in SIGN_PASS give the same signed bytes" "cd b &&
        SIGN_PASS='release test' bash $release SOURCES=files OUT=../out-b SIGN_PFX=../test.pfx && cmp ../out-a/$exe ../out-b/$exe"
    check "a wrong password stops the release before packing" "! SIGN_PASS=wrong bash $release SOURCES=a OUT=out-w \
        SIGN_PFX=test.pfx >w.log 2>&1 && grep -q 'cannot read the certificate' w.log && ! grep -q packing w.log && [ ! -e out-w ]"
    check "a timestamp server that refuses stops the release" "! bash $release $signed OUT=out-t \
        TIMESTAMP_URL=http://127.0.0.1:9/ >t.log 2>&1 && grep -q 'Connecting to http://127.0.0.1:9/' t.log && [ ! -e out-t ]"
    ;;
tampered)
    check "a signed release succeeds" "bash $release $signed OUT=out >/dev/null 2>&1"
    wrestool -x --raw --type=10 --name=1104 --language=0 out/$exe >resource
    python3 -c 'import sys
resource, data = open("resource", "rb").read(), bytearray(open(sys.argv[1], "rb").read())
at = data.find(resource)
data[at + len(resource) // 2] ^= 0x01
open("tampered.exe", "wb").write(data)' out/$exe
    check "osslsigncode verify finds the digest changed" "! osslsigncode verify -CAfile cert.pem -in tampered.exe \
        >o.log 2>&1 && grep -q MISMATCH o.log"
    check "the release's verification names the payload" "! bash $release verify tampered.exe a SIGN_CA=cert.pem \
        >v.log 2>&1 && grep -q '^  payload 1104 main.bin: ' v.log && [ \$(grep -c ': ok\$' v.log) = 6 ]"
    # The same length, one byte different, far into the file.
    python3 -c 'data = bytearray(open("a/patch1_ru.bin", "rb").read()); data[-100] ^= 0x80
open("a/patch1_ru.bin", "wb").write(data)'
    check "a changed source is named" "! bash $release verify out/$exe a SIGN_CA=cert.pem >v.log 2>&1 &&
        grep -q '^  payload 1107 patch1_ru.bin: .*unpacks to other bytes' v.log"
    rm a/main.bin a/patch1_de.bin
    check "missing sources are named, and nothing is written" "! bash $release SOURCES=a OUT=out-m >m.log 2>&1 &&
        grep -q '$work/a/main.bin' m.log && grep -q '$work/a/patch1_de.bin' m.log &&
        [ \$(grep -c 'missing source' m.log) = 2 ] && [ ! -e out-m ]"
    ;;
for-update-run)
    check "a signed release succeeds" "bash $release $signed OUT=package >/dev/null 2>&1"
    # The update run compares the installed files with the sources beside the package.
    cp a/* package/
    ;;
esac
check "the working folders are gone" "! ls -d tmp/ostrevan-release.* 2>/dev/null"
echo "$case_name: $failures failed"
[ $failures = 0 ]
