#!/usr/bin/env bash
# Made the committed signature vectors once with the openssl command line, so
# that every build (CNG under Wine included) checks its verifier against
# signatures that OpenSSL made. Run again only to replace them:
#   make-vectors.sh
# Writes, beside itself: signing-key.pem (a test key, PKCS#8), public.txt
# (its public key text), other-public.txt (another key's), and for each
# document its ".sig". updateL.json.sig carries the high-S twin (n - s) of
# OpenSSL's signature, which is as valid and must verify too.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out signing-key.pem
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/other.pem"

# The public key text: "p256:" and the base64 of the last 65 bytes of the
# DER SubjectPublicKeyInfo (the uncompressed point).
public_text() {
  printf 'p256:%s\n' "$(openssl pkey -in "$1" -pubout -outform DER | tail -c 65 | base64 -w0)"
}
public_text signing-key.pem > public.txt
public_text "$work/other.pem" > other-public.txt

mkdir -p complete
printf '{"files":[{"File":"Client.bin","MD5":"0123456789abcdef0123456789abcdef","Size":1}]}\n' > update.json
printf '{"files":[]}' > updateL.json
printf '{"package":"complete/full.zip"}\r\n' > complete/release.json

sign() {  # sign DOCUMENT VERSION EXPIRES HIGH_S
  local doc="$1" text="$work/text"
  {
    printf 'launcher-signature 1\n'
    printf 'document %s\n' "$doc"
    printf 'version %s\n' "$2"
    printf 'expires %s\n' "$3"
    printf 'sha256 %s\n' "$(sha256sum "$doc" | cut -d' ' -f1)"
  } > "$text"
  openssl dgst -sha256 -sign signing-key.pem -out "$work/der" "$text"
  python3 - "$work/der" "$4" > "$work/raw" <<'PY'
import base64, sys
der = open(sys.argv[1], "rb").read()
def integer(data, at):
    assert data[at] == 2
    size = data[at + 1]
    return int.from_bytes(data[at + 2:at + 2 + size], "big"), at + 2 + size
assert der[0] == 0x30
r, at = integer(der, 2)
s, _ = integer(der, at)
n = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
if sys.argv[2] == "high" and s < n // 2:
    s = n - s
print(base64.b64encode(r.to_bytes(32, "big") + s.to_bytes(32, "big")).decode())
PY
  { cat "$text"; printf 'signature %s\n' "$(cat "$work/raw")"; } > "$doc.sig"
}
sign update.json 1733580000 4102444800 low
sign updateL.json 18446744073709551615 9223372036854775807 high
sign complete/release.json 0 0 low
