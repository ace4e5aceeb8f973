#!/usr/bin/env bash
# One large file over a slow link: launcher-fetch with 5 workers against
# aria2c -x5 -s5 and curl, through tests/peers/relay.py (RTT_MS added, RATE
# bytes/s per connection), alternating, RUNS rounds each. Prints medians,
# the ratios and the ceiling of 5 capped connections.
#   bench/slowlink.sh BUILD_DIR [SIZE_MB]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/static-nginx.sh"
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)" size_mb="${2:-100}"
runs="${RUNS:-3}" rtt="${RTT_MS:-50}" rate="${RATE:-10000000}"
port="${PORT:-29994}" proxy_port=$((port + 1))
work="$build/bench-data/slowlink"
mkdir -p "$work/www" "$work/tmp"
file="$work/www/big.bin"
[ -f "$file" ] && [ "$(stat -c %s "$file")" = $((size_mb * 1000000)) ] || head -c $((size_mb * 1000000)) /dev/urandom >"$file"
start_static_nginx "$work" "$port" 1 256
python3 "$here/../tests/peers/relay.py" "$proxy_port" "$port" --rtt-ms "$rtt" --rate "$rate" >"$work/proxy.out" 2>&1 &
proxy_pid=$!
trap 'stop_static_nginx "$work"; kill "$proxy_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do grep -q ready "$work/proxy.out" 2>/dev/null && break; sleep 0.1; done
url="http://127.0.0.1:$proxy_port/big.bin"
expected="$(md5sum "$file" | cut -d' ' -f1)"

measure() {  # name, command...
  local name="$1"; shift
  rm -rf "$work/out"; mkdir -p "$work/out"
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>&1
  [ "$(md5sum "$work/out/big.bin" | cut -d' ' -f1)" = "$expected" ] || { echo "$name: wrong digest" >&2; exit 1; }
  echo "$name $(cat "$work/time.txt")" >>"$work/results.txt"
}

rm -f "$work/results.txt"
for _ in $(seq 1 "$runs"); do
  measure launcher env LAUNCHER_QUIET=1 "$build/tools/launcher-fetch/launcher-fetch" "$url" "$work/out" --workers 5
  measure aria2c aria2c -q -x5 -s5 --file-allocation=none --allow-overwrite=true -d "$work/out" -o big.bin "$url"
  measure curl curl -s -o "$work/out/big.bin" "$url"
done
python3 - "$work/results.txt" "$size_mb" "$rate" "$rtt" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
size_mb, rate, rtt = int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
ceiling = size_mb * 1e6 / (5 * rate)
res = {}
for name, sec, rss in rows:
    res.setdefault(name, []).append((float(sec), int(rss)))
med = {n: statistics.median(s for s, _ in v) for n, v in res.items()}
print(f"{size_mb} MB, {rtt} ms round trip, {rate / 1e6:.0f} MB/s per connection; 5-connection ceiling {ceiling:.2f} s")
for n, v in res.items():
    print(f"{n:9s} median {med[n]:.2f} s  peak RSS {max(r for _, r in v) / 1024:.1f} MiB")
print(f"launcher share of the ceiling: {ceiling / med['launcher']:.2f}")
for peer in ("aria2c", "curl"):
    print(f"launcher throughput / {peer}: {med[peer] / med['launcher']:.2f}")
PY
