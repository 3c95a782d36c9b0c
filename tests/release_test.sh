#!/usr/bin/env bash
# release_test.sh CASE PACKAGE_DIR WORK [UPDATER] -- scripts/release.sh on the demo files (taken from PACKAGE_DIR),
# with a code-signing certificate made here with openssl; WORK is emptied first, UPDATER is packed when given.
# CASE: signed, tampered or timestamped, each check naming what it proves; or for-update-run: a signed release in
# WORK/package with its sources beside it, for the update run under Wine.
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
    cp a/Patch102Notes.txt notes.txt && printf 'Caf\xe9 \x81\r\n' >>a/Patch102Notes.txt
    check "release notes with a byte that Windows-1252 leaves undefined stop the release, naming it" "! bash $release \
        SOURCES=a OUT=out-n >n.log 2>&1 && grep -q 'Patch102Notes.txt: byte [0-9]*: 0x81 is undefined' n.log &&
        ! grep -q 'byte.*0xE9' n.log && [ ! -e out-n ]"
    mv notes.txt a/Patch102Notes.txt
    rm a/main.bin a/patch1_de.bin
    check "missing sources are named, and nothing is written" "! bash $release SOURCES=a OUT=out-m >m.log 2>&1 &&
        grep -q '$work/a/main.bin' m.log && grep -q '$work/a/patch1_de.bin' m.log &&
        [ \$(grep -c 'missing source' m.log) = 2 ] && [ ! -e out-m ]"
    ;;
timestamped)
    # A root made in the past; under it a signer valid now, one expired long ago and a TSA; a TSA under a rogue root.
    printf '[req]\ndistinguished_name=dn\n[dn]\n[root]\nbasicConstraints=critical,CA:true\nkeyUsage=critical,keyCertSign
[signer]\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning
[tsa]\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' >pki.cnf
    at() { if [ "$1" = now ]; then "${@:2}"; else TZ=UTC faketime "$1" "${@:2}"; fi; }
    issue() { # NAME SUBJECT EXTENSIONS DAYS ISSUER TIME
        openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$2" -keyout "$1.key" -out "$1.csr" 2>/dev/null &&
            at "$6" openssl x509 -req -in "$1.csr" -CA "$5.pem" -CAkey "$5.key" -CAcreateserial -days "$4" \
                -extfile pki.cnf -extensions "$3" -out "$1.pem" 2>/dev/null
    }
    past='2024-01-01 00:00:00' window='2024-01-15 12:00:00'
    for name in root rogue; do
        at "$past" openssl req -x509 -newkey rsa:2048 -nodes -days 7300 -subj "/CN=Ostrevan Test $name" \
            -keyout $name.key -out $name.pem -config pki.cnf -extensions root 2>/dev/null || exit 1
    done
    issue signer "Ostrevan Release Test" signer 2 root now && issue expired "Ostrevan Expired Signer" signer 30 root "$past" &&
        issue tsa "Ostrevan Test TSA" tsa 7300 root "$past" && issue rogue-tsa "Rogue TSA" tsa 7300 rogue "$past" || exit 1
    for name in signer expired; do
        openssl pkcs12 -export -inkey $name.key -in $name.pem -certfile root.pem -out $name.pfx -passout file:pass || exit 1
    done
    serve() { # NAME TSA TIME [PYTHON...] -- a TSA answering as TSA at TIME, its URL in NAME
        printf '[tsa]\ndefault_tsa=t\n[t]\nserial=%s.serial\nsigner_cert=%s.pem\nsigner_key=%s.key\ncerts=%s
signer_digest=sha256\ndefault_policy=1.2.3.4.1\ndigests=sha256\ness_cert_id_alg=sha256\ntsa_name=yes\n' \
            "$2" "$2" "$2" "$([ "$2" = tsa ] && echo root.pem || echo rogue.pem)" >"$2.cnf" && echo 01 >"$2.serial"
        local clock=()
        [ "$3" = now ] || clock=(env TZ=UTC faketime "$3")
        "${clock[@]}" python3 "${4:-$root/tests/timestamp_server.py}" "$work/$2.cnf" "$1.port" >/dev/null 2>&1 &
        for _ in $(seq 100); do [ -s "$1.port" ] && break; sleep 0.1; done
        export "$1=http://127.0.0.1:$(cat "$1.port")"
    }
    # faketime starts its command as a child: the servers are found by their configurations.
    trap 'pkill -f "$work/.*[.]cnf"' EXIT
    serve now_tsa tsa now && serve window_tsa tsa "$window" && serve rogue_tsa rogue-tsa now
    printf 'import socket, sys, time\ns = socket.socket()\ns.bind(("127.0.0.1", 0))\ns.listen(5)
open(sys.argv[2], "w").write(str(s.getsockname()[1]))\nheld = [s.accept() for _ in range(5)]\ntime.sleep(600)\n' >silent.py
    serve silent_tsa tsa now silent.py
    # The two verifiers, each on its own: osslsigncode, which signed, and the second check.
    first() { # a timestamp that fails fails the signature, as the release takes osslsigncode's report
        osslsigncode verify -CAfile root.pem -TSA-CAfile root.pem -ignore-crl -in "$1" >first.log 2>&1 &&
            ! grep -q 'Timestamp Server Signature verification: failed' first.log
    }
    second() { /usr/bin/python3 "$root/scripts/check_signature.py" "$1" root.pem root.pem >/dev/null; }
    export root
    export -f first second
    signed_ts="SOURCES=a SIGN_PFX=signer.pfx SIGN_PASS_FILE=pass"
    check "a release timestamped by the test's TSA succeeds and names the timestamp" "bash $release $signed_ts \
        OUT=out-ts TIMESTAMP_URL=$now_tsa >ts.log 2>&1 && grep -q 'signed: .*timestamp 20.* UTC by Common Name: Ostrevan Test TSA' ts.log"
    check "both verifiers accept it, in the release's verification" "bash $release verify out-ts/$exe a SIGN_CA=root.pem \
        >v.log 2>&1 && grep -q 'signature ok (osslsigncode and the second check)' v.log && first out-ts/$exe && second out-ts/$exe"
    # The same release without the timestamp: the image, its digest, the signed attributes and the signature agree.
    cat >parts.py <<'PY'
import struct, sys
from asn1crypto import cms
def parts(name, flip=False):
    data = bytearray(open(name, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    offset, size = struct.unpack_from("<II", data, pe + 152)  # the certificate table of a PE32 image
    signed = cms.ContentInfo.load(bytes(data[offset + 8:offset + size]))["content"]
    signature = signed["signer_infos"][0]["signature"].native
    if flip:  # one byte of the signature changed
        at = data.find(signature, offset)
        data[at + len(signature) // 2] ^= 1
        open(sys.argv[3], "wb").write(data)
    return bytes(data[:pe + 88] + data[pe + 92:pe + 152] + data[pe + 160:offset]), signed["encap_content_info"].dump(), \
        signed["signer_infos"][0]["signed_attrs"].dump(), signature
if sys.argv[1] == "flip":
    parts(sys.argv[2], True)
else:
    sys.exit(parts(sys.argv[1]) != parts(sys.argv[2]))
PY
    check "it differs from the release without a timestamp in the timestamp alone" "bash $release $signed_ts OUT=out-plain \
        >/dev/null 2>&1 && /usr/bin/python3 parts.py out-plain/$exe out-ts/$exe && ! cmp -s out-plain/$exe out-ts/$exe"
    python3 -c 'import sys; data = bytearray(open(sys.argv[1], "rb").read()); data[len(data) // 3] ^= 1
open("payload.exe", "wb").write(data)' out-ts/$exe
    /usr/bin/python3 parts.py flip out-ts/$exe signature.exe
    osslsigncode remove-signature -in out-plain/$exe -out a-unsigned.exe >/dev/null 2>&1
    osslsigncode sign -pkcs12 signer.pfx -readpass pass -h sha256 -ts "$rogue_tsa" -in a-unsigned.exe -out rogue.exe >/dev/null 2>&1
    for tampered in payload.exe signature.exe rogue.exe; do
        check "osslsigncode rejects $tampered" "! first $tampered"
        check "the second check rejects $tampered" "! second $tampered"
        check "the release's verification rejects $tampered" "! bash $release verify $tampered a SIGN_CA=root.pem >/dev/null 2>&1"
    done
    # A signer whose validity ended long ago, its package timestamped while it was valid; the same without it.
    check "an expired signer's release, timestamped while it was valid, verifies by both" "bash $release SOURCES=a \
        OUT=out-expired SIGN_PFX=expired.pfx SIGN_PASS_FILE=pass TIMESTAMP_URL=$window_tsa >e.log 2>&1 &&
        first out-expired/$exe && second out-expired/$exe"
    osslsigncode sign -pkcs12 expired.pfx -readpass pass -h sha256 -time "$(date -u -d "$past" +%s)" -in a-unsigned.exe \
        -out expired.exe >/dev/null 2>&1
    check "the same package without a timestamp is rejected by both" "! first expired.exe && ! second expired.exe"
    check "a TSA that never answers stops the release, naming it, writing nothing" "! TIMESTAMP_TIMEOUT=3 bash $release \
        $signed_ts OUT=out-silent TIMESTAMP_URL=$silent_tsa >s.log 2>&1 &&
        grep -q \"timestamp server $silent_tsa did not answer within 3 s\" s.log && [ ! -e out-silent ]"
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
