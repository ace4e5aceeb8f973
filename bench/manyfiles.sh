#!/usr/bin/env bash
# Many small files from nginx into an empty folder: launcher-update against
# aria2c -j5 and curl -Z --parallel-max 5 on the same release (COUNT files of
# SIZE_KIB each, made by launcher-manifest), once on loopback and once
# through tests/peers/relay.py (RTT_MS added, RATE bytes/s per connection
# when set), alternating, RUNS rounds each (LINKS="loopback" skips the
# proxy). Prints medians and ratios.
#   bench/manyfiles.sh BUILD_DIR [COUNT] [SIZE_KIB]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/static-nginx.sh"
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)" count="${2:-300}" size_kib="${3:-16}"
runs="${RUNS:-3}" rtt="${RTT_MS:-50}" rate="${RATE:-0}" links="${LINKS:-loopback proxy}"
port="${PORT:-29990}" proxy_port=$((port + 1))
work="$build/bench-data/manyfiles"
rm -rf "$work"
mkdir -p "$work/src/data" "$work/www" "$work/tmp"
for i in $(seq -f "%04g" 1 "$count"); do
  head -c $((size_kib * 1024)) /dev/urandom >"$work/src/data/f$i.bin"
done
"$build/tools/launcher-manifest/launcher-manifest" "$work/src" "$work/www/rel" >/dev/null
start_static_nginx "$work" "$port" 2 1024 "keepalive_requests 10000;"
proxy_args=("$proxy_port" "$port" --rtt-ms "$rtt")
[ "$rate" != 0 ] && proxy_args+=(--rate "$rate")
python3 "$here/../tests/peers/relay.py" "${proxy_args[@]}" >"$work/proxy.out" 2>&1 &
proxy_pid=$!
trap 'stop_static_nginx "$work"; kill "$proxy_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do grep -q ready "$work/proxy.out" 2>/dev/null && break; sleep 0.1; done

names=()
while IFS= read -r f; do names+=("${f#"$work/src/"}"); done < <(find "$work/src" -type f -name '*.bin' | sort)
(cd "$work/src" && md5sum "${names[@]}") >"$work/expected.md5"

lists() {  # base URL -> aria2c input, curl config
  local base="$1"
  : >"$work/aria2.txt"; : >"$work/curl.cfg"
  for n in "${names[@]}"; do
    printf '%s/%s\n  out=%s\n' "$base" "$n" "$n" >>"$work/aria2.txt"
    printf 'url = "%s/%s"\noutput = "%s"\n' "$base" "$n" "$work/out/$n" >>"$work/curl.cfg"
  done
}

measure() {  # link, name, command...
  local link="$1" name="$2"; shift 2
  rm -rf "$work/out"; mkdir -p "$work/out"
  # Wall time from the clock in nanoseconds (/usr/bin/time counts in steps
  # of 10 ms); peak memory from /usr/bin/time.
  local start end
  start="$(date +%s%N)"
  /usr/bin/time -f "%M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/last.err" || true
  end="$(date +%s%N)"
  if ! (cd "$work/out" && md5sum --quiet -c "$work/expected.md5" >/dev/null 2>&1); then
    echo "$link $name: files missing or wrong" >&2; tail -5 "$work/last.err" >&2; exit 1
  fi
  echo "$link $name $(( (end - start) / 1000000 )) $(tail -1 "$work/time.txt")" >>"$work/results.txt"
}

rm -f "$work/results.txt"
for link in $links; do
  p="$port"; [ "$link" = proxy ] && p="$proxy_port"
  base="http://127.0.0.1:$p/rel"
  lists "$base"
  for _ in $(seq 1 "$runs"); do
    measure "$link" launcher env LAUNCHER_QUIET=1 "$build/tools/launcher-update/launcher-update" \
      --base "$base" --dir "$work/out"
    measure "$link" aria2c aria2c -q -j5 --file-allocation=none --allow-overwrite=true -d "$work/out" -i "$work/aria2.txt"
    measure "$link" curl curl -s -Z --parallel-max 5 --create-dirs -K "$work/curl.cfg"
  done
done
python3 - "$work/results.txt" "$count" "$size_kib" "$rtt" "$rate" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
count, size_kib, rtt, rate = sys.argv[2:]
res = {}
for link, name, ms, rss in rows:
    res.setdefault((link, name), []).append((int(ms) / 1000, int(rss)))
print(f"{count} files of {size_kib} KiB; proxy: {rtt} ms round trip, rate cap {rate} B/s per connection")
for link in [l for l in ("loopback", "proxy") if any(k[0] == l for k in res)]:
    med = {n: statistics.median(s for s, _ in v) for (l, n), v in res.items() if l == link}
    for n in ("launcher", "aria2c", "curl"):
        rss = max(r for _, r in res[(link, n)]) / 1024
        print(f"{link:8s} {n:9s} median {med[n]:.3f} s  peak RSS {rss:.1f} MiB")
    for peer in ("aria2c", "curl"):
        ratio = f"{med['launcher'] / med[peer]:.2f}" if med[peer] > 0 else "n/a (peer under the timer's resolution)"
        print(f"{link:8s} launcher time / {peer} time: {ratio}")
PY
