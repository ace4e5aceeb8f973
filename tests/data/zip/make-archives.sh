#!/usr/bin/env bash
# Makes the ZIP archives of the extraction tests with real tools: Info-ZIP
# zip, Python's zipfile and 7z. The big ZIP64 archive (an entry larger than
# 4 GiB) is made here and never committed.
#   make-archives.sh OUT_DIR
# OUT_DIR receives the archives and src/, the tree they were made from. A
# second run with the same script does nothing.
set -euo pipefail
out="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
stamp="$(md5sum "$here/make-archives.sh" | cut -d' ' -f1)"
[ -f "$out/.done" ] && [ "$(cat "$out/.done")" = "$stamp" ] && exit 0
rm -rf "$out"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The tree: folders, a compressible text, incompressible bytes, an empty
# file and a name outside ASCII.
python3 - "$out/src" <<'PY'
import os, random, sys
root = sys.argv[1]
def put(name, data):
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)
put("data/map/a.dat", b"a")
put("data/text.txt", b"".join(b"line %06d of the update test text\n" % i for i in range(6000)))
put("sub/deeper/random.bin", random.Random(7).randbytes(300000))
put("sub/empty.dat", b"")
put("data/\u5730\u56fe.txt", "\u5730\u56fe data\n".encode("utf-8"))
PY

cd "$out/src"
zip -q -r -0 "$out/zip-stored.zip" data sub
zip -q -r -9 "$out/zip-deflate.zip" data sub
# Every header with ZIP64 fields, although nothing needs them.
zip -q -r -fz "$out/zip-forced64.zip" data sub
7z a -tzip -mx=5 "$out/7z-deflate.zip" data sub >/dev/null
7z a -tzip -mx=0 "$out/7z-stored.zip" data sub >/dev/null
# A per-file archive: one entry stored under a folder name.
zip -q "$out/zip-one-in-folder.zip" data/text.txt

python3 - "$out" <<'PY'
import os, struct, sys, zipfile, zlib
out = sys.argv[1]
src = os.path.join(out, "src")

def tree(archive, method):
    with zipfile.ZipFile(os.path.join(out, archive), "w", method) as z:
        for folder, dirs, files in sorted(os.walk(src)):
            rel = os.path.relpath(folder, src)
            if rel != ".":
                z.write(folder, rel)                       # folder entries too
            for f in sorted(files):
                z.write(os.path.join(folder, f), os.path.normpath(os.path.join(rel, f)))

tree("py-deflate.zip", zipfile.ZIP_DEFLATED)
tree("py-stored.zip", zipfile.ZIP_STORED)

# Names that would leave the folder, between two good entries.
with zipfile.ZipFile(os.path.join(out, "py-slip.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("good-1.txt", "first")
    for name in ["../evil.txt", "/abs.txt", "C:/drive.txt", "..\\back.txt", "sub/../../up.txt", "C:evil2.txt"]:
        z.writestr(zipfile.ZipInfo(name), "evil")
    z.writestr("good-2.txt", "second")

# A bomb: 16 MiB of zeros whose headers claim 1000 bytes, then a good entry.
path = os.path.join(out, "py-bomb.zip")
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("bomb.bin", bytes(16 << 20))
    z.writestr("ok.txt", "fine")
data = bytearray(open(path, "rb").read())
at = 0
while True:
    at = data.find(b"PK\x01\x02", at)
    if at < 0: break
    name_len = struct.unpack_from("<H", data, at + 28)[0]
    if data[at + 46: at + 46 + name_len] == b"bomb.bin":
        struct.pack_into("<I", data, at + 24, 1000)
        local = struct.unpack_from("<I", data, at + 42)[0]
        struct.pack_into("<I", data, local + 22, 1000)
    at += 4
open(path, "wb").write(data)

# A stored entry whose bytes were changed after its CRC was taken.
path = os.path.join(out, "py-crc.zip")
with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
    z.writestr("changed.txt", "the original content of the entry")
    z.writestr("intact.txt", "intact")
data = bytearray(open(path, "rb").read())
data[data.find(b"original")] ^= 0x20
open(path, "wb").write(data)

# More entries than the classic end record can count: ZIP64 end records.
with zipfile.ZipFile(os.path.join(out, "py-many.zip"), "w", zipfile.ZIP_STORED) as z:
    for i in range(70000):
        z.writestr("f%05d" % i, b"")

# An entry larger than 4 GiB (zeros, so the archive stays small), then a
# small entry: ZIP64 sizes in both headers.
with zipfile.ZipFile(os.path.join(out, "py-big64.zip"), "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    with z.open("big.bin", "w", force_zip64=True) as f:
        block = bytes(1 << 24)
        for i in range(257):
            f.write(block)
    z.writestr("after.txt", "after the big one")
PY
echo "$stamp" >"$out/.done"
