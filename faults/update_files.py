#!/usr/bin/env python3
"""Releases and install folders for the update rows of the fault campaign.

  update_files.py make RELEASE_DIR SEED LARGE_COUNT LARGE_MB SMALL_COUNT
      A release: LARGE_COUNT sparse files of LARGE_MB MiB (random 64 KiB
      blocks every MiB, the rest holes) and SMALL_COUNT small random files
      of 1 to 40 KiB in a few folders. The same seed gives the same bytes.
  update_files.py publish RELEASE_DIR OUT_DIR NAME MANIFEST_TOOL
      Publishes the release with launcher-manifest so that one file in
      four (by name) is a ZIP entry: the zipped and the plain files are
      published apart and their manifests merged into OUT_DIR/NAME.
  update_files.py snapshot DIR MANIFEST... > SNAPSHOT
      MD5 of every file the manifests name, as it lies in DIR ("-" absent).
  update_files.py check DIR SNAPSHOT MANIFEST
      After an interrupted run: every file at its final name is as it was in
      the snapshot or has its MD5 in MANIFEST. Prints "partial N changed N"
      and names each partial file on stderr; exit 1 when any is partial.
  update_files.py complete DIR MANIFEST
      Prints "wrong N of M" for the files whose MD5 differs from MANIFEST;
      exit 1 when N > 0.
"""
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys

BLOCK = 65536


def make(release, seed, large_count, large_mb, small_count):
    rnd = random.Random(seed)
    os.makedirs(release, exist_ok=True)
    for i in range(large_count):
        path = os.path.join(release, "data", "pack%02d.pak" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        size = large_mb * (1 << 20) + rnd.randrange(1, BLOCK)
        with open(path, "wb") as f:
            f.truncate(size)
            for mib in range(0, large_mb):
                f.seek(mib << 20)
                f.write(rnd.randbytes(BLOCK))
    for i in range(small_count):
        folder = ("maps", "sound", "ui", "script")[i % 4]
        path = os.path.join(release, "data", folder, "f%04d.dat" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(rnd.randbytes(rnd.randrange(1024, 40 * 1024)))


def release_files(release):
    for folder, _, names in os.walk(release):
        for name in names:
            yield os.path.relpath(os.path.join(folder, name), release)


def publish(release, out, name, tool):
    """One file in four goes out zipped, the large file pack00.pak included."""
    parts = {}
    for rel in sorted(release_files(release)):
        zipped = rel.endswith("pack00.pak") or int(hashlib.md5(rel.encode()).hexdigest(), 16) % 4 == 0
        parts.setdefault(zipped, []).append(rel)
    staging = out + ".staging"
    merged = []
    for zipped, names in parts.items():
        src = os.path.join(staging, "zip" if zipped else "plain")
        dst = os.path.join(staging, "out-zip" if zipped else "out-plain")
        for rel in names:
            os.makedirs(os.path.dirname(os.path.join(src, rel)), exist_ok=True)
            os.link(os.path.join(release, rel), os.path.join(src, rel))
        args = [tool, src, dst, "--name", name] + (["--zip"] if zipped else [])
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(dst, name), encoding="utf-8") as f:
            merged += json.load(f)
        os.remove(os.path.join(dst, name))
        shutil.copytree(dst, out, dirs_exist_ok=True, copy_function=os.link)
    with open(os.path.join(out, name), "w", encoding="utf-8") as f:
        json.dump(merged, f)
    shutil.rmtree(staging)


def manifest_files(path):
    with open(path, encoding="utf-8") as f:
        return {e["File"].replace("\\", "/"): e["Hash"].lower() for e in json.load(f)}


def md5(path):
    try:
        with open(path, "rb") as f:
            h = hashlib.md5()
            for piece in iter(lambda: f.read(1 << 20), b""):
                h.update(piece)
            return h.hexdigest()
    except FileNotFoundError:
        return "-"


def digests(folder, manifests):
    """{name: MD5 as it lies in folder, "-" when absent} for every file the
    manifests name."""
    names = set()
    for m in manifests:
        names |= set(manifest_files(m))
    return {name: md5(os.path.join(folder, name)) for name in names}


def compare(folder, before, manifest):
    """(partial, changed): files now neither as in `before` nor at their
    manifest MD5 (each named on stderr), and files that became right."""
    target = manifest_files(manifest)
    partial = changed = 0
    for name in sorted(set(before) | set(target)):
        now = md5(os.path.join(folder, name))
        if now == before.get(name, "-"):
            continue
        if now == target.get(name):
            changed += 1
            continue
        partial += 1
        size = os.path.getsize(os.path.join(folder, name)) if now != "-" else -1
        print("partial or unverified: %s (%d bytes, md5 %s, was %s, manifest %s)"
              % (name, size, now, before.get(name, "-"), target.get(name, "-")), file=sys.stderr)
    return partial, changed


def wrong_files(folder, manifest):
    """(names whose MD5 differs from the manifest, number of files)."""
    target = manifest_files(manifest)
    return [n for n, h in target.items() if md5(os.path.join(folder, n)) != h], len(target)


def snapshot(folder, manifests):
    for name, digest in sorted(digests(folder, manifests).items()):
        print("%s %s" % (digest, name))


def check(folder, snap, manifest):
    before = {}
    with open(snap, encoding="utf-8") as f:
        for line in f:
            digest, name = line.rstrip("\n").split(" ", 1)
            before[name] = digest
    partial, changed = compare(folder, before, manifest)
    print("partial %d changed %d" % (partial, changed))
    return 1 if partial else 0


def complete(folder, manifest):
    wrong, total = wrong_files(folder, manifest)
    for name in wrong[:10]:
        print("wrong: %s" % name, file=sys.stderr)
    print("wrong %d of %d" % (len(wrong), total))
    return 1 if wrong else 0


def main(argv):
    command, args = argv[1], argv[2:]
    if command == "make":
        make(args[0], int(args[1]), int(args[2]), int(args[3]), int(args[4]))
        return 0
    if command == "publish":
        publish(*args)
        return 0
    if command == "snapshot":
        snapshot(args[0], args[1:])
        return 0
    if command == "check":
        return check(*args)
    if command == "complete":
        return complete(*args)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
