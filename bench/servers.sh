#!/usr/bin/env bash
# Every web server of the test suite's server matrix side by side in one
# run (tests/peers/webservers.peer, started here on ports of its own, with
# the TLS peer for its test CA): a SIZE_MIB file by launcher-fetch with 5
# workers, and the chunked update of a pack of the same size with 1 % changed
# in 20 places by launcher-update (a player folder holding the old pack).
# Each server's time and the bytes its access log says it sent, as ratios to
# nginx's (+70, the operators' rules) in the same round; RUNS rounds
# (default 3), medians. Every result is checked byte for byte.
#   bench/servers.sh BUILD_DIR [SIZE_MIB]        (SIZE_MIB default 1024)
#   SERVERS="nginx apache2 ..."   the rows to measure (default all)
#   PORT_BASE=29000               the peers' port base
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
peers="$here/../tests/peers"
build="$(cd "$1" && pwd)" size_mb="${2:-1024}" runs="${RUNS:-3}" base="${PORT_BASE:-29000}"
work="$build/bench-data/servers-$size_mb"
state="$work/peers"
export LAUNCHER_QUIET=1
fetch="$build/tools/launcher-fetch/launcher-fetch"
update="$build/tools/launcher-update/launcher-update"
manifest="$build/tools/launcher-manifest/launcher-manifest"
www="$state/updateserver/www"
ca="$state/tlsserver/ca.pem"

# name scheme offset log: the rows of tests/e2e/ServerMatrixTest.cpp.
ROWS="nginx http 70 nginx
apache2 http 60 apache
apache2_https https 61 apache
lighttpd http 62 lighttpd
lighttpd_https https 63 lighttpd
caddy http 64 caddy
caddy_https https 65 caddy
h2o http 66 h2o
h2o_https https 67 h2o
nginx_gzip_everything http 71 nginx
varnish_before_nginx http 68 varnish
python_http_server http 69 python"
wanted="${SERVERS:-$(cut -d' ' -f1 <<<"$ROWS" | tr '\n' ' ')}"

# The file and the two releases of the pack, made once per size.
size=$((size_mb * 1024 * 1024))
mkdir -p "$www" "$work/releases"
if [ ! -f "$work/releases.done" ]; then
  mkdir -p "$work/releases/old" "$work/releases/new"  # old: the player's copy
  head -c "$size" /dev/urandom >"$work/releases/old/pack.pak"
  python3 - "$work/releases/old/pack.pak" "$work/releases/new/pack.pak" "$size" <<'PY'
import sys
old, new, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = bytearray(open(old, "rb").read())
each = size // 100 // 20
for k in range(20):
    at = k * (size // 20) + 12345
    data[at:at + each] = bytes(b ^ 0xFF for b in data[at:at + each])
open(new, "wb").write(data)
PY
  touch "$work/releases.done"
fi

stop_peers() {
  bash "$peers/webservers.peer" stop "$state/webservers" "$base" || true
  bash "$peers/tlsserver.peer" stop "$state/tlsserver" "$base" || true
}
trap stop_peers EXIT
bash "$peers/tlsserver.peer" start "$state/tlsserver" "$base"
bash "$peers/webservers.peer" start "$state/webservers" "$base"
# The peers start with an empty log; the tree is published after them.
rm -rf "${www:?}"/*
"$manifest" "$work/releases/new" "$www/new" >/dev/null
cp "$work/releases/old/pack.pak" "$www/big.bin"
expected_big="$(md5sum "$www/big.bin" | cut -d' ' -f1)"
expected_new="$(md5sum "$www/new/pack.pak" | cut -d' ' -f1)"

# Bytes the log of server $1 says it sent after byte $2 for paths under $3.
sent() {
  python3 - "$state/webservers/$1/access.log" "$2" "$3" <<'PY'
import json, shlex, sys
log, offset, prefix = sys.argv[1], int(sys.argv[2]), sys.argv[3]
total = 0
with open(log, "rb") as f:
    f.seek(offset)
    for line in f.read().decode("utf-8", "replace").splitlines():
        if line.startswith("{"):
            entry = json.loads(line)
            path, size = entry["request"]["uri"], entry.get("size", 0)
        else:
            try:
                fields = shlex.split(line.split("]", 1)[1])
                path, size = fields[0].split()[1], fields[2]
            except (IndexError, ValueError):
                continue
        if path.startswith(prefix):
            total += int(size) if str(size).isdigit() else 0
print(total)
PY
}

log_size() { stat -c %s "$state/webservers/$1/access.log"; }

# The bytes a run needs at least: the file, or what launcher-update says
# it fetched of the pack (the index comes on top).
whole_file() { echo "$size"; }
pack_fetched() {
  local line
  line="$(grep -ao '[0-9]* fetched' "$work/out/UpdateLog.txt" | head -n 1 || true)"
  echo "${line%% *}" | sed 's/^$/0/'
}

# One client run against one row: "NAME PART SECONDS BYTES" to results.txt.
# Some servers log an answer only once they find its connection closed:
# the log is read again until it holds at least what the run needed (20 s
# at most; python's server logs no bytes).
measure() {  # name, part, log, prefix, expected md5, result file, least (a function), command...
  local name="$1" part="$2" log="$3" prefix="$4" md5="$5" result="$6" least="$7"; shift 7
  local offset start end bytes
  offset="$(log_size "$log")"
  start="$(date +%s.%N)"
  "$@" >"$work/client.log" 2>&1 || { echo "$name $part: the client failed" >&2; tail -n 5 "$work/client.log" >&2; exit 1; }
  end="$(date +%s.%N)"
  [ "$(md5sum "$result" | cut -d' ' -f1)" = "$md5" ] || { echo "$name $part: wrong digest" >&2; exit 1; }
  least="$("$least")"
  [ "$log" = python ] && least=0
  for _ in $(seq 1 100); do
    bytes="$(sent "$log" "$offset" "$prefix")"
    [ "$bytes" -ge "$least" ] && break
    sleep 0.2
  done
  echo "$name $part $(echo "$end - $start" | bc) $bytes" >>"$work/results.txt"
}

rm -f "$work/results.txt"
for round in $(seq 1 "$runs"); do
  while read -r name scheme offset log; do
    case " $wanted " in *" $name "*) ;; *) continue ;; esac
    host=127.0.0.1 tls=()
    [ "$scheme" = https ] && host=localhost tls=(--ca-file "$ca")
    url="$scheme://$host:$((base + offset))"
    out="$work/out"
    rm -rf "$out"; mkdir -p "$out"; sync
    measure "$name" download "$log" /big.bin "$expected_big" "$out/big.bin" whole_file \
      "$fetch" "$url/big.bin" "$out" --workers 5 --expect-size "$size" "${tls[@]}"
    rm -rf "$out"; mkdir -p "$out"
    cp "$work/releases/old/pack.pak" "$out/pack.pak"; sync
    measure "$name" chunked "$log" /new/ "$expected_new" "$out/pack.pak" pack_fetched \
      "$update" --base "$url/new/" --dir "$out" "${tls[@]}"
  done <<<"$ROWS"
  echo "round $round done" >&2
done

python3 - "$work/results.txt" "$size_mb" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
size = int(sys.argv[2])
res = {}
for name, part, sec, sent in rows:
    res.setdefault(name, {}).setdefault(part, []).append((float(sec), int(sent)))
med = {n: {p: (statistics.median(s for s, _ in v), statistics.median(b for _, b in v)) for p, v in parts.items()}
       for n, parts in res.items()}
ref = med.get("nginx")
print(f"{size} MiB, medians of {len(res.get('nginx', {}).get('download', []))} rounds; ratios to nginx")
print(f"{'server':22s} {'download s':>10s} {'time':>6s} {'bytes':>6s} {'chunked s':>10s} {'time':>6s} {'bytes':>6s}  chunked bytes")
for name, parts in med.items():
    d, c = parts["download"], parts["chunked"]
    def ratio(x, y): return f"{x / y:6.2f}" if x and y else "     -"  # python's server logs no bytes
    print(f"{name:22s} {d[0]:10.2f} {ratio(d[0], ref['download'][0])} {ratio(d[1], ref['download'][1])} "
          f"{c[0]:10.2f} {ratio(c[0], ref['chunked'][0])} {ratio(c[1], ref['chunked'][1])}  {int(c[1]):,}")
PY
