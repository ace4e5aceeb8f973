#!/usr/bin/env bash
# The update compare against its peers, side by side in one hyperfine run:
#  - cold compare (no state file) of 20,000 files, 1 GiB, against md5sum over
#    the same files, serial and on both cores (xargs -P2);
#  - no-op compare with a warm state file on a 50,000-entry manifest against
#    the bare cost of stat-ing those files (find -printf).
#   bench/compare.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$build/bench-data/compare"
mkdir -p "$work"
# Trees and manifests: FOLDER/data/update.json lists every file under FOLDER/game.
python3 - "$work" <<'PY'
import hashlib, json, os, random, sys
work = sys.argv[1]
def make(name, count, total, folders):
    root = os.path.join(work, name)
    if os.path.exists(os.path.join(root, "data", "update.json")):
        return
    rnd = random.Random(count)
    entries = []
    size = total // count
    for i in range(count):
        rel = "game/d%03d/f%05d.bin" % (i % folders, i)
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = rnd.randbytes(size)
        open(path, "wb").write(data)
        entries.append({"File": rel.replace("/", "\\"), "isLauncher": 0, "Need": True,
                        "Hash": hashlib.md5(data).hexdigest(), "Size": size, "IsZip": False})
    os.makedirs(os.path.join(root, "data"), exist_ok=True)
    with open(os.path.join(root, "data", "update.json"), "w") as f:
        json.dump(entries, f)
    with open(os.path.join(root, "files.txt"), "w") as f:
        f.write("\n".join(os.path.join(root, e["File"].replace("\\", "/")) for e in entries) + "\n")
make("cold", 20000, 1 << 30, 100)
make("warm", 50000, 50000 * 64, 250)
PY
cold="$work/cold" warm="$work/warm"
cat "$cold/files.txt" | xargs cat >/dev/null   # into the page cache
"$build/bench/updatecompare" "$cold" update.json 2 --cold
"$build/bench/updatecompare" "$warm" update.json 2 --cold >/dev/null   # the warm state file
"$build/bench/updatecompare" "$warm" update.json 2
hyperfine --warmup 1 --runs "${RUNS:-5}" --export-json "$work/cold.json" \
  -n "launcher 1 thread" "$build/bench/updatecompare $cold update.json 1 --cold" \
  -n "launcher 2 threads" "$build/bench/updatecompare $cold update.json 2 --cold" \
  -n "md5sum" "xargs -a $cold/files.txt md5sum >/dev/null" \
  -n "md5sum -P2" "xargs -a $cold/files.txt -P2 -n 500 md5sum >/dev/null"
hyperfine --warmup 2 --runs "${RUNS:-10}" --export-json "$work/warm.json" \
  -n "launcher no-op" "$build/bench/updatecompare $warm update.json 2" \
  -n "find -printf" "find $warm/game -type f -printf '%s %T@\n' >/dev/null"
python3 - "$work/cold.json" "$work/warm.json" <<'PY'
import json, sys
cold = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
warm = {x["command"]: x["median"] for x in json.load(open(sys.argv[2]))["results"]}
print(f"cold, 1 thread / md5sum time:      {cold['launcher 1 thread'] / cold['md5sum']:.3f}")
print(f"cold, 2 threads / md5sum -P2 time: {cold['launcher 2 threads'] / cold['md5sum -P2']:.3f}")
print(f"no-op / find -printf time:         {warm['launcher no-op'] / warm['find -printf']:.3f}")
PY
