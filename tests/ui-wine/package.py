"""Rewrites the package appended to a launcher executable with other blocks,
for the bad-package cases: the blocks are read from the trailer, replaced,
and written back with a trailer of fresh MD5 digests, exactly as a package
writer lays them out (configuration, skin, positions, trailer, magic)."""
import hashlib
import struct

MAGIC = 0x12345678
TRAILER = 120


def read_blocks(blob):
    """(program image, [configuration, skin, positions]) of a packed file."""
    if struct.unpack_from("<I", blob, len(blob) - 4)[0] != MAGIC:
        raise ValueError("no package")
    base = len(blob) - 4 - TRAILER
    blocks = []
    for i in range(3):
        offset, size = struct.unpack_from("<II", blob, base + 40 * i)
        blocks.append(blob[offset:offset + size])
    first = struct.unpack_from("<I", blob, base)[0]
    return blob[:first], blocks


def write_package(image, blocks):
    out = bytearray(image)
    trailer = b""
    for block in blocks:
        trailer += struct.pack("<II", len(out), len(block)) + hashlib.md5(block).hexdigest().encode()
        out += block
    return bytes(out + trailer + struct.pack("<I", MAGIC))


def skin_records(skin):
    """The PNG files of a skin block, in their order."""
    records, pos = [], 0
    while pos + 4 <= len(skin):
        (length,) = struct.unpack_from("<i", skin, pos)
        records.append(skin[pos + 4:pos + 4 + length])
        pos += 4 + length
    return records


def skin_block(records):
    return b"".join(struct.pack("<i", len(r)) + r for r in records)


def rewrite(source, target, skin=None, positions=None):
    """Copies the packed file `source` to `target` with the skin block and/or
    positions block given as functions of the old block."""
    with open(source, "rb") as f:
        image, (config, old_skin, old_positions) = read_blocks(f.read())
    new_skin = skin(old_skin) if skin else old_skin
    new_positions = positions(old_positions) if positions else old_positions
    with open(target, "wb") as f:
        f.write(write_package(image, [config, new_skin, new_positions]))
