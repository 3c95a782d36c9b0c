#!/usr/bin/env python3
"""check_signature.py PACKAGE SIGN_CA TSA_CA -- the package's Authenticode signature, checked by other code than
the signing tool's: sbverify (sbsigntool) checks the image's digest against the signed one and the signature and
its chain up to SIGN_CA; OpenSSL's `ts -verify` checks the timestamp token (RFC 3161, the signature's
countersignature) up to TSA_CA, whose signing certificate must carry the critical timeStamping key usage, and that
it stamps this very signature. Every certificate of the signer's chain must be valid at the timestamp's time, or
now for a signature without one (sbverify, made for boot images, does not look at validity). Prints what it found;
exits 1, naming what failed, when any check fails. This script only takes the signature apart (asn1crypto) and
compares the times."""
import datetime
import os
import struct
import subprocess
import sys
import tempfile

from asn1crypto import cms, pem, tsp, x509

TIMESTAMP_ATTRIBUTE = "1.3.6.1.4.1.311.3.3.1"  # an RFC 3161 timestamp token, as Authenticode embeds it


def fail(message):
    print("  signature (second check): " + message)
    sys.exit(1)


def signature_of(package):
    """The PKCS #7 SignedData of the package's certificate table (the 5th data directory)."""
    data = open(package, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    directories = pe + 24 + (96 if struct.unpack_from("<H", data, pe + 24)[0] == 0x10B else 112)
    offset, size = struct.unpack_from("<II", data, directories + 4 * 8)
    if not size:
        fail("the package is not signed")
    length = struct.unpack_from("<I", data, offset)[0]  # WIN_CERTIFICATE: length, revision, type, then the DER
    return cms.ContentInfo.load(data[offset + 8:offset + length])["content"]


def certificate_by(certificates, issuer, serial):
    for certificate in certificates:
        if certificate.chosen.issuer == issuer and certificate.chosen.serial_number == serial:
            return certificate.chosen
    fail("the signer's certificate is not in the signature")


def root_for(chain, bundle):
    """The certificate of bundle that issued the top of the chain (sbverify takes one file of one certificate)."""
    top = chain[-1]
    for _, _, der in pem.unarmor(open(bundle, "rb").read(), multiple=True):
        candidate = x509.Certificate.load(der)
        if candidate.subject == top.issuer:
            return candidate
    fail("no certificate of %s issued %s" % (bundle, top.issuer.human_friendly))


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: check_signature.py PACKAGE SIGN_CA TSA_CA")
    package, sign_ca, tsa_ca = sys.argv[1:]
    signed = signature_of(package)
    certificates = [c for c in signed["certificates"] if c.name == "certificate"]
    signer_info = signed["signer_infos"][0]
    sid = signer_info["sid"].chosen
    signer = certificate_by(certificates, sid["issuer"], sid["serial_number"].native)
    chain = [signer]
    while chain[-1].issuer != chain[-1].subject:
        above = [c.chosen for c in certificates if c.chosen.subject == chain[-1].issuer]
        if not above or above[0] in chain:
            break
        chain.append(above[0])
    stamped = None
    for attribute in signer_info["unsigned_attrs"] if signer_info["unsigned_attrs"].native else []:
        if attribute["type"].dotted == TIMESTAMP_ATTRIBUTE:
            stamped = cms.ContentInfo.load(attribute["values"][0].dump())
    with tempfile.TemporaryDirectory() as work:
        verify_at = None
        if stamped is not None:
            token = os.path.join(work, "token.der")
            stamped_value = os.path.join(work, "signature.bin")
            open(token, "wb").write(stamped.dump())
            open(stamped_value, "wb").write(signer_info["signature"].native)
            check = subprocess.run(["openssl", "ts", "-verify", "-token_in", "-in", token, "-data", stamped_value,
                                    "-CAfile", tsa_ca], capture_output=True, text=True)
            if check.returncode != 0 or "Verification: OK" not in check.stdout:
                fail("the timestamp does not verify against %s: %s" % (tsa_ca, (check.stdout + check.stderr).strip()))
            info = tsp.TSTInfo.load(stamped["content"]["encap_content_info"]["content"].contents)
            verify_at = info["gen_time"].native
            tsa = info["tsa"].chosen.human_friendly if info["tsa"].native else "a TSA without a name"
            print("  timestamp (second check): %s by %s" % (verify_at.strftime("%Y-%m-%d %H:%M:%S UTC"), tsa))
        at = verify_at or datetime.datetime.now(datetime.timezone.utc)
        trusted = root_for(chain, sign_ca)
        for certificate in chain + [trusted]:
            validity = certificate["tbs_certificate"]["validity"]
            if not validity["not_before"].native <= at <= validity["not_after"].native:
                fail("%s is not valid at %s" % (certificate.subject.human_friendly, at.strftime("%Y-%m-%d %H:%M:%S UTC")))
        root = os.path.join(work, "root.pem")
        open(root, "wb").write(pem.armor("CERTIFICATE", trusted.dump()))
        check = subprocess.run(["sbverify", "--cert", root, package], capture_output=True, text=True)
        if check.returncode != 0:
            fail("sbverify rejects it: " + (check.stdout + check.stderr).strip().replace("\n", "; "))
    print("  signature (second check): digest, signature and chain ok (sbverify), valid at %s, signer %s" %
          (at.strftime("%Y-%m-%d %H:%M:%S UTC"), signer.subject.human_friendly))


if __name__ == "__main__":
    main()
