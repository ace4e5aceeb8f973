#!/usr/bin/env bash
# The update engine over TLS, side by side with curl and aria2c in one run,
# against nginx with TLS on 127.0.0.1 and a CA made here with openssl:
#   1. a SIZE_MIB file (default 1 GiB): launcher-fetch with 5 workers
#      against curl and aria2c -x5 -s5, RUNS rounds, medians and peak RSS;
#   2. COUNT files of 16 KiB (default 300) through tests/peers/relay.py with
#      RTT_MS (default 50) round trip: launcher-update against
#      curl -Z --parallel-max 5;
#   3. the rate cap: launcher-fetch --limit-rate at 1, 10 and 100 MB/s
#      (1000 KB/s, ...) on a file of 10 s at its cap, the rate reached (with
#      the connection's set-up inside the time) against the cap.
#   bench/tls.sh BUILD_DIR [SIZE_MIB] [COUNT]
# PARTS="big many cap" chooses the parts to run.
# OUT_DIR=DIR puts the downloads there (a tmpfs takes the disk out).
# WIN32_BUILD=DIR adds launcher-fetch.exe of that build under Wine (SChannel)
# to part 1, the CA put in the Wine prefix's Root store by trust-test-ca.exe.
# BASELINE=OTHER_BUILD_DIR adds that build's launcher-fetch to part 1, so two
# builds are compared in one run.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/static-nginx.sh"
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)" size="${2:-1024}" count="${3:-300}"
parts="${PARTS:-big many cap}" runs="${RUNS:-3}" rtt="${RTT_MS:-50}" port="${PORT:-29970}" proxy_port=$((${PORT:-29970} + 1))
work="$build/bench-data/tls"
out="${OUT_DIR:-$work}/tls-out"
fetch="$build/tools/launcher-fetch/launcher-fetch" update="$build/tools/launcher-update/launcher-update"
mkdir -p "$work/www" "$work/tmp" "$work/ca" "$out"

# The CA and a certificate for localhost.
ca="$work/ca/ca.pem"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=Bench CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
  -keyout "$work/ca/ca.key" -out "$ca" 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=localhost" \
  -keyout "$work/ca/server.key" -out "$work/ca/server.csr" 2>/dev/null
printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$work/ca/server.ext"
openssl x509 -req -in "$work/ca/server.csr" -CA "$ca" -CAkey "$work/ca/ca.key" -CAcreateserial -days 2 \
  -extfile "$work/ca/server.ext" -out "$work/ca/server.crt" 2>/dev/null

file="$work/www/big.bin"
case " $parts " in *" big "*) ;; *) size=1 ;; esac  # the 1 GiB file only for part 1
[ -f "$file" ] && [ "$(stat -c %s "$file")" = $((size * 1024 * 1024)) ] || head -c $((size * 1024 * 1024)) /dev/urandom >"$file"
rm -rf "$work/src" "$work/www/rel"
mkdir -p "$work/src/data"
for i in $(seq -f "%04g" 1 "$count"); do head -c 16384 /dev/urandom >"$work/src/data/f$i.bin"; done
"$build/tools/launcher-manifest/launcher-manifest" "$work/src" "$work/www/rel" >/dev/null

# The static nginx's plain server takes port+2; the TLS one is the bench's.
start_static_nginx "$work" $((port + 2)) 2 1024 "keepalive_requests 10000;
  server { listen 127.0.0.1:$port ssl; server_name localhost; root $work/www;
           ssl_certificate $work/ca/server.crt; ssl_certificate_key $work/ca/server.key;
           ssl_protocols TLSv1.2 TLSv1.3; ssl_session_cache shared:bench:1m; }"
python3 "$here/../tests/peers/relay.py" "$proxy_port" "$port" --rtt-ms "$rtt" >"$work/proxy.out" 2>&1 &
proxy_pid=$!
trap 'stop_static_nginx "$work"; kill "$proxy_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do grep -q ready "$work/proxy.out" 2>/dev/null && break; sleep 0.1; done
cat "$file" >/dev/null
expected="$(md5sum "$file" | cut -d' ' -f1)"
names=()
while IFS= read -r f; do names+=("${f#"$work/src/"}"); done < <(find "$work/src" -type f -name '*.bin' | sort)
(cd "$work/src" && md5sum "${names[@]}") >"$work/expected.md5"
: >"$work/curl.cfg"
for n in "${names[@]}"; do
  printf 'url = "https://localhost:%s/rel/%s"\noutput = "%s"\n' "$proxy_port" "$n" "$out/$n" >>"$work/curl.cfg"
done

measure() {  # part, name, check, command...
  local part="$1" name="$2" check="$3"; shift 3
  rm -rf "$out"; mkdir -p "$out"; sync
  local start end
  start="$(date +%s%N)"
  /usr/bin/time -f "%M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/last.err" || true
  end="$(date +%s%N)"
  if ! eval "$check"; then echo "$part $name: wrong result" >&2; tail -5 "$work/last.err" >&2; exit 1; fi
  echo "$part $name $(( (end - start) / 1000000 )) $(tail -1 "$work/time.txt")" >>"$work/results.txt"
}
big_ok='[ "$(md5sum "$out/big.bin" | cut -d" " -f1)" = "$expected" ]'
many_ok='(cd "$out" && md5sum --quiet -c "$work/expected.md5" >/dev/null 2>&1)'

rm -f "$work/results.txt"
url="https://localhost:$port/big.bin"
win32="${WIN32_BUILD:-}"
if [ -n "$win32" ]; then
  win32="$(cd "$win32" && pwd)"
  "$here/../scripts/wine-run" "$win32/tests/trust-test-ca.exe" "Z:$ca" >/dev/null
fi
part() { case " $parts " in *" $1 "*) return 0;; esac; return 1; }
for _ in $(seq 1 "$runs"); do
  part big || continue
  [ -z "$win32" ] || measure big wine "$big_ok" env LAUNCHER_QUIET=1 "$here/../scripts/wine-run" \
    "$win32/tools/launcher-fetch/launcher-fetch.exe" "$url" "Z:$out" --workers 5
  measure big launcher "$big_ok" env LAUNCHER_QUIET=1 "$fetch" "$url" "$out" --workers 5 --ca-file "$ca"
  [ -z "${BASELINE:-}" ] || measure big baseline "$big_ok" env LAUNCHER_QUIET=1 \
    "$BASELINE/tools/launcher-fetch/launcher-fetch" "$url" "$out" --workers 5 --ca-file "$ca"
  measure big curl "$big_ok" curl -s --cacert "$ca" -o "$out/big.bin" "$url"
  measure big aria2c "$big_ok" aria2c -q -x5 -s5 --ca-certificate="$ca" --file-allocation=none \
    --allow-overwrite=true -d "$out" -o big.bin "$url"
done
for _ in $(seq 1 "$runs"); do
  part many || continue
  measure many launcher "$many_ok" env LAUNCHER_QUIET=1 "$update" --base "https://localhost:$proxy_port/rel" \
    --dir "$out" --ca-file "$ca"
  measure many curl "$many_ok" curl -s -Z --parallel-max 5 --cacert "$ca" --create-dirs -K "$work/curl.cfg"
done
# The cap: 10 s of data at each rate.
for cap in 1000 10000 100000; do
  part cap || continue
  capfile="$work/www/cap$cap.bin"
  head -c $((cap * 1024 * 10)) /dev/urandom >"$capfile"
  measure "cap$cap" launcher '[ -f "$out/cap'"$cap"'.bin" ]' env LAUNCHER_QUIET=1 "$fetch" \
    "https://localhost:$port/cap$cap.bin" "$out" --workers 5 --ca-file "$ca" --limit-rate "$cap"
done

python3 - "$work/results.txt" "$size" "$count" "$rtt" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
size, count, rtt = int(sys.argv[2]), sys.argv[3], sys.argv[4]
res = {}
for part, name, ms, rss in rows:
    res.setdefault((part, name), []).append((int(ms) / 1000, int(rss)))
med = {k: statistics.median(s for s, _ in v) for k, v in res.items()}
rss = {k: max(r for _, r in v) / 1024 for k, v in res.items()}
part = lambda p: any(k[0] == p for k in med)
if part("big"):
  print(f"1. {size} MiB over TLS on loopback")
for n in [n for n in ("launcher", "baseline", "curl", "aria2c", "wine") if ("big", n) in med]:
    print(f"   {n:9s} median {med[('big', n)]:.2f} s  {size / med[('big', n)]:.0f} MiB/s  peak RSS {rss[('big', n)]:.1f} MiB")
for build in [b for b in ("launcher", "baseline") if ("big", b) in med]:
  for peer in [p for p in ("curl", "aria2c") if ("big", p) in med]:
    print(f"   {build} throughput / {peer}: {med[('big', peer)] / med[('big', build)]:.2f}")
if ("big", "wine") in med:
    print(f"   Windows build under Wine (5 connections) / curl: {med[('big', 'curl')] / med[('big', 'wine')]:.2f}")
if part("many"):
  print(f"2. {count} files of 16 KiB over TLS, {rtt} ms round trip")
for n in [n for n in ("launcher", "curl") if ("many", n) in med]:
    print(f"   {n:9s} median {med[('many', n)]:.3f} s  peak RSS {rss[('many', n)]:.1f} MiB")
if part("many"):
  print(f"   launcher time / curl time: {med[('many', 'launcher')] / med[('many', 'curl')]:.2f}")
if part("cap1000"):
  print("3. rate cap (launcher-fetch --limit-rate, 5 workers, TLS)")
for cap in [c for c in (1000, 10000, 100000) if (f"cap{c}", "launcher") in med]:
    seconds = med[(f"cap{cap}", "launcher")]
    rate = cap * 10 / seconds  # each file holds 10 s of data at its cap
    print(f"   cap {cap} KB/s: {rate:.0f} KB/s in {seconds:.2f} s ({rate / cap:.3f} of the cap)")
PY
