#!/usr/bin/env python3
"""Launcher folders for bench/compare.sh: FOLDER/data/update.json lists every
file under FOLDER/game, and FOLDER/files.txt names them for the peers.
  makerelease.py WORK"""
import hashlib, json, os, random, sys

work = os.path.abspath(sys.argv[1])


def make(name, count, size, folders, pattern):
    root = os.path.join(work, name)
    if os.path.exists(os.path.join(root, "data", "update.json")):
        return
    rnd = random.Random(count)
    entries = []
    for i in range(count):
        rel = pattern % (i % folders, i)
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = rnd.randbytes(size)
        with open(path, "wb") as f:
            f.write(data)
        entries.append({"File": rel.replace("/", "\\"), "isLauncher": 0, "Need": True,
                        "Hash": hashlib.md5(data).hexdigest(), "Size": size, "IsZip": False})
    os.makedirs(os.path.join(root, "data"), exist_ok=True)
    with open(os.path.join(root, "data", "update.json"), "w") as f:
        json.dump(entries, f, indent=1)
    with open(os.path.join(root, "files.txt"), "w") as f:
        f.write("\n".join(os.path.join(root, e["File"].replace("\\", "/")) for e in entries) + "\n")


# 1 GiB in 20,000 files for the cold digest; 50,000 small files for the
# no-op; 200,000 entries with longer paths (a 39 MB manifest) for memory.
make("cold", 20000, (1 << 30) // 20000, 100, "game/d%03d/f%05d.bin")
make("warm", 50000, 64, 250, "game/d%03d/f%05d.bin")
make("huge", 200000, 64, 1000, "game/models/characters/textures/d%04d/texture_f%06d.dds")
