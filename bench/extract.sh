#!/usr/bin/env bash
# Extraction of a 1 GiB package (Info-ZIP zip, deflate level 6) against unzip
# and bsdtar, side by side in one hyperfine run; each run extracts into an
# emptied folder.
#   bench/extract.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$build/bench-data/extract"
mkdir -p "$work"
package="$work/package.zip"
if [ ! -f "$package" ]; then
  # Game-like content: half compressible records, half incompressible
  # (textures, sounds), 320 files of 1 to 6 MiB.
  python3 - "$work/tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(5)
total, i = 0, 0
while total < (1 << 30):
    size = rnd.randint(1 << 20, 6 << 20)
    if i % 2:
        data = rnd.randbytes(size)
    else:
        words = [b"item%05d" % rnd.randint(0, 99999) for _ in range(4096)]
        data = b" ".join(rnd.choice(words) for _ in range(size // 9))[:size]
    path = os.path.join(root, "res%02d" % (i % 16), "file%04d.dat" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)
    total += len(data)
    i += 1
PY
  (cd "$work/tree" && zip -q -r "$package" .)
  rm -rf "$work/tree"
fi
cat "$package" >/dev/null
out="$work/out"
hyperfine --warmup 1 --runs "${RUNS:-5}" --export-json "$work/extract.json" \
  --prepare "rm -rf $out && mkdir -p $out" \
  -n "launcher 1 thread" "$build/bench/extractzip $package $out 1" \
  -n "launcher 2 threads" "$build/bench/extractzip $package $out 2" \
  -n "bsdtar" "bsdtar -xf $package -C $out" \
  -n "unzip" "unzip -q -o $package -d $out"
rm -rf "$out"
python3 - "$work/extract.json" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
for ours in ("launcher 1 thread", "launcher 2 threads"):
    for peer in ("bsdtar", "unzip"):
        print(f"{ours} / {peer} time: {r[ours] / r[peer]:.3f}")
PY
