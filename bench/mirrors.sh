#!/usr/bin/env bash
# The download engine over two mirrors, side by side in one run, RUNS rounds
# (median): launcher-fetch with 5 workers and a SIZE_MIB file, each case
# against the healthy mirror alone:
#   never accepts  a first mirror whose accept queue is full: the extra time
#                  (aim: at most 3 s)
#   200 KB/s       a first mirror limited to 200 KB/s per connection: the
#                  time against the healthy mirror alone (aim: at most 1.2 x)
#   two at 5 MB/s  two mirrors each limited to 5 MB/s per connection against
#                  one of them: throughput (aim: at least 1.8 x), and aria2c
#                  (-x5 -s5) given both URLs
# Every nginx listens on 127.0.0.1 and is stopped at the end.
#   bench/mirrors.sh BUILD_DIR [SIZE_MIB]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/static-nginx.sh"
build="$(cd "$1" && pwd)" size="${2:-512}" runs="${RUNS:-3}"
work="$build/bench-data/mirrors"
port=29960
healthy=$port slow=$((port + 1)) limitedA=$((port + 2)) limitedB=$((port + 3)) dead=$((port + 4))
out="${OUT_DIR:-$work}/mirrors-out"
mkdir -p "$work/www" "$work/tmp" "$out"
file="$work/www/big.bin"
[ -f "$file" ] && [ "$(stat -c %s "$file")" = $((size * 1024 * 1024)) ] || head -c $((size * 1024 * 1024)) /dev/urandom >"$file"
servers="
  server { listen 127.0.0.1:$slow; root $work/www; limit_rate 200k; }
  server { listen 127.0.0.1:$limitedA; root $work/www; limit_rate 5m; }
  server { listen 127.0.0.1:$limitedB; root $work/www; limit_rate 5m; }"
start_static_nginx "$work" "$healthy" 2 512 "$servers"
rm -f "$work/full.ready"
python3 "$here/../tests/peers/full_queue.py" "$dead" "$work/full.ready" >/dev/null 2>&1 &
full=$!
trap 'stop_static_nginx "$work"; kill $full 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do [ -s "$work/full.ready" ] && break; sleep 0.1; done
sleep 0.3
url() { echo "http://127.0.0.1:$1/big.bin"; }
expected="$(md5sum "$file" | cut -d' ' -f1)"
cat "$file" >/dev/null

measure() {  # name, command...
  local name="$1"; shift
  rm -rf "$out"; mkdir -p "$out"; sync
  /usr/bin/time -f "%e" -o "$work/time.txt" "$@" >"$work/$name.log" 2>&1
  local got; got="$(md5sum "$out/big.bin" | cut -d' ' -f1)"
  [ "$got" = "$expected" ] || { echo "$name: wrong digest" >&2; exit 1; }
  echo "$name $(cat "$work/time.txt")" >>"$work/results.txt"
}
fetch=("env" "LAUNCHER_QUIET=1" "$build/tools/launcher-fetch/launcher-fetch")

rm -f "$work/results.txt"
for _ in $(seq 1 "$runs"); do
  measure healthy "${fetch[@]}" "$(url $healthy)" "$out" --workers 5
  measure never-accepts "${fetch[@]}" "$(url $dead)|$(url $healthy)" "$out" --workers 5
  measure slow-first "${fetch[@]}" "$(url $slow)|$(url $healthy)" "$out" --workers 5
  measure one-limited "${fetch[@]}" "$(url $limitedA)" "$out" --workers 5
  measure two-limited "${fetch[@]}" "$(url $limitedA)|$(url $limitedB)" "$out" --workers 5
  measure aria2c-two aria2c -q -x5 -s5 --file-allocation=none --allow-overwrite=true -d "$out" -o big.bin \
    "$(url $limitedA)" "$(url $limitedB)"
done
python3 - "$work/results.txt" "$size" <<'PY'
import statistics, sys
size = int(sys.argv[2])
res = {}
for name, sec in (l.split() for l in open(sys.argv[1])):
    res.setdefault(name, []).append(float(sec))
med = {n: statistics.median(v) for n, v in res.items()}
for n in res:
    print(f"{n:14s} median {med[n]:7.2f} s  {size / med[n]:7.1f} MiB/s")
print(f"never accepts first: {med['never-accepts'] - med['healthy']:+.2f} s against the healthy mirror alone (aim <= 3 s)")
print(f"200 KB/s first: {med['slow-first'] / med['healthy']:.2f} x the healthy mirror's time (aim <= 1.2)")
print(f"two mirrors at 5 MB/s: {med['one-limited'] / med['two-limited']:.2f} x one's throughput (aim >= 1.8); "
      f"aria2c with both: {med['one-limited'] / med['aria2c-two']:.2f} x")
PY
