#!/usr/bin/env bash
# The update compare against its peers, side by side in one run:
#  - cold compare (no state file, page cache dropped before every run) of
#    20,000 files, 1 GiB, against md5sum over the same files, serial and on
#    both cores (xargs -P2);
#  - no-op compare with a warm state file on a 50,000-entry and a
#    200,000-entry manifest against the bare cost of stat-ing those files
#    (find -printf);
#  - peak memory of the 200,000-entry compare, first run (no state file,
#    every file digested) and no-op.
#   bench/compare.sh BUILD_DIR
# Dropping the page cache needs root; without it the cold runs are warm ones
# and the script says so.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
work="$build/bench-data/compare"
mkdir -p "$work"
python3 "$here/makerelease.py" "$work"
cold="$work/cold" warm="$work/warm" huge="$work/huge"
compare="$build/bench/updatecompare"

prepare="sync; echo 3 > /proc/sys/vm/drop_caches"
if ! sh -c "$prepare" 2>/dev/null; then
  echo "cannot drop the page cache (not root): the cold runs read cached files"
  prepare="true"
fi
hyperfine --runs "${RUNS:-5}" --prepare "$prepare" --export-json "$work/cold.json" \
  -n "launcher 1 thread" "$compare $cold update.json 1 --cold" \
  -n "launcher 2 threads" "$compare $cold update.json 2 --cold" \
  -n "md5sum" "xargs -a $cold/files.txt md5sum >/dev/null" \
  -n "md5sum -P2" "xargs -a $cold/files.txt -P2 -n 500 md5sum >/dev/null"

"$compare" "$warm" update.json 2 --cold >/dev/null   # the warm state files
"$compare" "$huge" update.json 2 --cold >/dev/null
hyperfine --warmup 2 --runs "${RUNS_WARM:-10}" --export-json "$work/warm.json" \
  -n "launcher no-op 50k" "$compare $warm update.json 2" \
  -n "find 50k" "find $warm/game -type f -printf '%s %T@\n' >/dev/null" \
  -n "launcher no-op 200k" "$compare $huge update.json 2" \
  -n "find 200k" "find $huge/game -type f -printf '%s %T@\n' >/dev/null"

peak() { /usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1; }
{
  echo "first run 200k $(peak "$compare" "$huge" update.json 2 --cold)"
  echo "no-op 200k $(peak "$compare" "$huge" update.json 2)"
  echo "find 200k $(peak find "$huge/game" -type f -printf '%s %T@\n')"
  echo "md5sum 200k $(peak xargs -a "$huge/files.txt" -n 5000 md5sum)"
} >"$work/memory.txt"

python3 - "$work/cold.json" "$work/warm.json" "$work/memory.txt" <<'PY'
import json, sys
cold = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
warm = {x["command"]: x for x in json.load(open(sys.argv[2]))["results"]}
def row(name, r):
    print(f"{name:22} median {r['median']:7.3f} s  user {r['user']:6.3f} s  system {r['system']:6.3f} s")
for name, r in list(cold.items()) + list(warm.items()):
    row(name, r)
m = lambda d, k: d[k]["median"]
print(f"cold: md5sum / launcher 1 thread:   {m(cold, 'md5sum') / m(cold, 'launcher 1 thread'):.2f} x faster")
print(f"cold: md5sum / launcher 2 threads:  {m(cold, 'md5sum') / m(cold, 'launcher 2 threads'):.2f} x faster")
print(f"cold: md5sum / md5sum -P2:          {m(cold, 'md5sum') / m(cold, 'md5sum -P2'):.2f} x faster")
for n in ("50k", "200k"):
    print(f"no-op {n}: launcher / find time:   {m(warm, 'launcher no-op ' + n) / m(warm, 'find ' + n):.2f}")
for line in open(sys.argv[3]):
    name, kib = line.rsplit(" ", 1)
    print(f"peak memory, {name}: {int(kib) / 1024:.1f} MiB")
PY
