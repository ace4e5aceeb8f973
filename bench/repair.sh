#!/usr/bin/env bash
# Repair against its peers, side by side in one run:
#  - a 1 GiB pack with a chunk index and one flipped byte (its time put
#    back, so only a check by content finds it): `launcher-update --repair`
#    against `md5sum` of the same file, and the bytes the repair fetched
#    against the chunk size;
#  - a full check without a state file of 20,000 small files, nothing
#    damaged: `launcher-update --repair` against `xargs -P2 md5sum` over
#    the same files.
# Files are page-cached for every program alike (the page cache is not
# dropped: the machine is shared).
#   bench/repair.sh BUILD_DIR [PORT]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
port="${2:-24390}"
work="$build/bench-data/repair"
update="$build/tools/launcher-update/launcher-update"
manifest="$build/tools/launcher-manifest/launcher-manifest"
. "$here/static-nginx.sh"
rm -rf "$work"
mkdir -p "$work/release/pack/data" "$work/release/many"
trap 'stop_static_nginx "$work"' EXIT

# The releases: one pack of 1 GiB, and 20,000 files of 1 to 8 KiB in 100 folders.
head -c $((1 << 30)) /dev/urandom >"$work/release/pack/data/pack.dat"
python3 - "$work/release/many" <<'PY'
import os, random, sys
random.seed(7)
for k in range(20000):
    folder = os.path.join(sys.argv[1], "data", "d%03d" % (k % 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.bin" % k), "wb") as f:
        f.write(random.randbytes(random.randint(1024, 8192)))
PY
"$manifest" "$work/release/pack" "$work/www/pack" >/dev/null
"$manifest" "$work/release/many" "$work/www/many" >/dev/null
start_static_nginx "$work" "$port" 2 1024
base="http://127.0.0.1:$port"

# The players: a copy of each release brought up to date once (the pack's
# state recorded); the many files without a state file.
cp -r "$work/release/pack" "$work/player-pack"
"$update" --base "$base/pack/" --dir "$work/player-pack" --no-space-check >/dev/null
cp -r "$work/release/many" "$work/player-many"
pack="$work/player-pack/data/pack.dat"
cat >"$work/damage.sh" <<SH
#!/bin/sh
# One byte in the middle of the pack flipped, its time put back.
touch -r "$pack" "$work/time"
python3 -c "
f = open('$pack', 'r+b'); f.seek(1 << 29); b = f.read(1); f.seek(1 << 29); f.write(bytes([b[0] ^ 0x5A]))"
touch -r "$work/time" "$pack"
SH
chmod +x "$work/damage.sh"
: >"$work/time"

"$work/damage.sh"
"$update" --base "$base/pack/" --dir "$work/player-pack" --repair --no-space-check | tail -1 >"$work/pack-line.txt"
hyperfine --warmup 1 --runs "${RUNS:-3}" --prepare "$work/damage.sh" --export-json "$work/pack.json" \
  -n "launcher-update --repair" "$update --base $base/pack/ --dir $work/player-pack --repair --no-space-check" \
  -n "md5sum" "md5sum $pack"

find "$work/player-many/data" -type f >"$work/many-files.txt"
"$update" --base "$base/many/" --dir "$work/player-many" --repair --no-space-check | tail -1 >"$work/many-line.txt"
hyperfine --warmup 1 --runs "${RUNS:-3}" --prepare "rm -f $work/player-many/data/update0.local" \
  --export-json "$work/many.json" \
  -n "launcher-update --repair" "$update --base $base/many/ --dir $work/player-many --repair --no-space-check" \
  -n "xargs -P2 md5sum" "xargs -a $work/many-files.txt -P2 -n 500 md5sum >/dev/null"

python3 - "$work" <<'PY'
import json, os, re, sys
work = sys.argv[1]
def medians(name):
    return {r["command"]: r["median"] for r in json.load(open(f"{work}/{name}.json"))["results"]}
pack, many = medians("pack"), medians("many")
line = open(f"{work}/pack-line.txt").read().strip()
fetched = int(re.search(r"(\d+) bytes fetched", line).group(1))
print(f"1 GiB pack, one flipped byte: repair {pack['launcher-update --repair']:.3f} s, md5sum {pack['md5sum']:.3f} s, "
      f"ratio {pack['launcher-update --repair'] / pack['md5sum']:.2f} (aim: at most 1.2)")
print(f"  {line}")
index = os.path.getsize(f"{work}/www/pack/data/pack.dat.chunks")
documents = os.path.getsize(f"{work}/www/pack/update.json")
print(f"  fetched {fetched} bytes: chunk index {index}, manifest {documents}, the rest "
      f"{fetched - index - documents} bytes = {(fetched - index - documents) / 65536:.2f} chunks of 64 KiB at most "
      f"(aim: at most 2; the rest holds the answers' headers too)")
print(f"20,000 files, no state file: repair {many['launcher-update --repair']:.3f} s, "
      f"xargs -P2 md5sum {many['xargs -P2 md5sum']:.3f} s, "
      f"ratio {many['launcher-update --repair'] / many['xargs -P2 md5sum']:.2f} (aim: below 1)")
print(f"  {open(f'{work}/many-line.txt').read().strip()}")
PY
