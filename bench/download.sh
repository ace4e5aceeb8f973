#!/usr/bin/env bash
# A 1 GiB file from nginx on 127.0.0.1 to disk: launcher-fetch with 5
# workers against aria2c -x5 -s5 and curl -o, side by side, alternating,
# RUNS rounds each. Prints median throughput, the ratios against each peer
# and peak resident memory.
#   bench/download.sh BUILD_DIR [SIZE_MIB]
# OUT_DIR=DIR writes the downloads into a folder of their own there (a
# tmpfs takes the disk out of the figures); BASELINE=OTHER_BUILD_DIR adds
# that build's launcher-fetch to every round, so two builds are compared in
# one run.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/static-nginx.sh"
build="$(cd "$1" && pwd)" size="${2:-1024}" runs="${RUNS:-3}"
work="$build/bench-data/download"
port=29980
out="${OUT_DIR:-$work}/download-out" baseline="${BASELINE:-}"
mkdir -p "$work/www" "$work/tmp" "$out"
file="$work/www/big.bin"
[ -f "$file" ] && [ "$(stat -c %s "$file")" = $((size * 1024 * 1024)) ] || head -c $((size * 1024 * 1024)) /dev/urandom >"$file"
start_static_nginx "$work" "$port" 2 256
trap 'stop_static_nginx "$work"' EXIT
sleep 0.3
url="http://127.0.0.1:$port/big.bin"
expected="$(md5sum "$file" | cut -d' ' -f1)"
cat "$file" >/dev/null

measure() {  # name, command...
  local name="$1"; shift
  rm -rf "$out"; mkdir -p "$out"; sync
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>&1
  local got; got="$(md5sum "$out/big.bin" | cut -d' ' -f1)"
  [ "$got" = "$expected" ] || { echo "$name: wrong digest" >&2; exit 1; }
  echo "$name $(cat "$work/time.txt")" >>"$work/results.txt"
}

rm -f "$work/results.txt"
for _ in $(seq 1 "$runs"); do
  measure launcher env LAUNCHER_QUIET=1 "$build/tools/launcher-fetch/launcher-fetch" "$url" "$out" --workers 5
  [ -z "$baseline" ] || measure baseline env LAUNCHER_QUIET=1 "$baseline/tools/launcher-fetch/launcher-fetch" "$url" "$out" --workers 5
  measure aria2c aria2c -q -x5 -s5 --file-allocation=none --allow-overwrite=true -d "$out" -o big.bin "$url"
  measure curl curl -s -o "$out/big.bin" "$url"
done
python3 - "$work/results.txt" "$size" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
size = int(sys.argv[2])
res = {}
for name, sec, rss in rows:
    res.setdefault(name, []).append((float(sec), int(rss)))
med = {n: statistics.median(s for s, _ in v) for n, v in res.items()}
for n, v in res.items():
    print(f"{n:9s} median {med[n]:.2f} s  {size / med[n]:.0f} MiB/s  peak RSS {max(r for _, r in v) / 1024:.1f} MiB")
for build in [b for b in ("launcher", "baseline") if b in med]:
    for peer in ("aria2c", "curl"):
        print(f"{build} throughput / {peer}: {med[peer] / med[build]:.2f}")
PY
