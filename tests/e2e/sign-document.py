#!/usr/bin/env python3
"""Signs release documents with the openssl command line, apart from the
launcher's own signing code, so the update runs are checked against
signatures that OpenSSL made (natively and under Wine alike).

  sign-document.py new KEY.pem
      makes a P-256 key and prints its public key text ("p256:" + base64)
  sign-document.py sign KEY.pem DOCUMENT_PATH DOCUMENT_NAME VERSION EXPIRES
      writes DOCUMENT_PATH.sig for the document as it is on disk; EXPIRES is
      a Unix time, or +SECONDS / -SECONDS from now
"""
import base64
import hashlib
import subprocess
import sys
import time


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, stdout=subprocess.PIPE, check=True).stdout


def public_text(key):
    spki = openssl("pkey", "-in", key, "-pubout", "-outform", "DER")
    return "p256:" + base64.b64encode(spki[-65:]).decode()


def der_integer(der, at):
    assert der[at] == 2
    size = der[at + 1]
    return int.from_bytes(der[at + 2:at + 2 + size], "big"), at + 2 + size


def raw_signature(der):
    """r || s, 32 bytes each, from OpenSSL's DER signature."""
    assert der[0] == 0x30
    r, at = der_integer(der, 2)
    s, _ = der_integer(der, at)
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def expiry(text):
    if text[0] in "+-":
        return int(time.time()) + int(text)
    return int(text)


def sign(key, path, name, version, expires):
    with open(path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    signed = ("launcher-signature 1\ndocument %s\nversion %s\nexpires %d\nsha256 %s\n"
              % (name, version, expiry(expires), digest)).encode()
    der = openssl("dgst", "-sha256", "-sign", key, data=signed)
    with open(path + ".sig", "wb") as f:
        f.write(signed + b"signature " + base64.b64encode(raw_signature(der)) + b"\n")


def main(argv):
    if len(argv) == 3 and argv[1] == "new":
        openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", argv[2])
        print(public_text(argv[2]))
        return 0
    if len(argv) == 7 and argv[1] == "sign":
        sign(*argv[2:])
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
