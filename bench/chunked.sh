#!/usr/bin/env bash
# Chunked updates of one large pack, side by side in one run: the launcher's
# update (launcher-update, the chunk index of launcher-manifest) against
# zsync (zsyncmake, zsync -i OLD) and casync (casync make, casync extract
# --seed OLD) and the whole file (launcher-fetch, 5 connections), for the
# four kinds of change of a game patch. Each is measured on loopback and
# through tests/peers/relay.py (RTT_MS added, RATE bytes/s per connection).
# Bytes are what nginx sent (control files and indexes included), from its
# access log; the time is the wall time of the client. Every result is
# checked byte for byte. Prints one table and the launcher's ratios.
#   bench/chunked.sh BUILD_DIR [SIZE_MB]        (SIZE_MB default 1024)
#   LINKS="loopback proxy"   the links to measure
#   CASES="overwrite20 ..."  the changes to measure (default all four)
#   TOOLS="launcher fresh zsync casync whole"  the clients to measure
#   BASELINE=BUILD_DIR2      also runs that build's launcher-update as
#                            "launcher-base" and "fresh-base" (an earlier
#                            build against this one, in the same run)
# "launcher" is a player of the previous release: an earlier run recorded
# the old pack, so the compare does not read it again. "fresh" is any other
# older copy (no record: the compare reads it once before the update).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)" size_mb="${2:-1024}"
rtt="${RTT_MS:-50}" rate="${RATE:-10000000}" links="${LINKS:-loopback proxy}"
port="${PORT:-29996}" proxy_port=$((port + 1))
work="$build/bench-data/chunked-$size_mb"  # one folder per size: its files derive from its old pack
export LAUNCHER_QUIET=1
for tool in zsync zsyncmake casync curl nginx; do
  command -v "$tool" >/dev/null || { echo "bench/chunked.sh needs $tool (scripts/setup installs it)" >&2; exit 2; }
done
update="$build/tools/launcher-update/launcher-update"
baseline="${BASELINE:+$(cd "$BASELINE" && pwd)}"
manifest="$build/tools/launcher-manifest/launcher-manifest"
fetch="$build/tools/launcher-fetch/launcher-fetch"
mkdir -p "$work/www" "$work/tmp"

# The old pack and the four new ones (python writes them in one pass each).
size=$((size_mb * 1024 * 1024))
[ -f "$work/old.pak" ] && [ "$(stat -c %s "$work/old.pak")" = "$size" ] || head -c "$size" /dev/urandom >"$work/old.pak"
cases="${CASES:-overwrite20 insert20 scatter200 deletetail}"
tools="${TOOLS:-launcher fresh zsync casync whole}"
[ -n "$baseline" ] && tools="$tools launcher-base fresh-base"
wants() { case " $tools " in *" $1 "*) return 0;; esac; return 1; }
python3 - "$work" "$size" $cases <<'PY'
import os, sys
work, size, cases = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
def edits(case):
    """(offset in the old file, bytes removed, bytes put in) in ascending order."""
    rnd = lambda n, k: os.urandom(n)
    if case == "overwrite20":  # 1 % overwritten in 20 places
        each = size // 100 // 20
        return [(k * (size // 20) + 4099, each, os.urandom(each)) for k in range(20)]
    if case == "insert20":     # 20 blocks of 128 KiB inserted
        return [(k * (size // 20) + 777, 0, os.urandom(128 << 10)) for k in range(20)]
    if case == "scatter200":   # 200 scattered 4 KiB overwrites
        return [(k * (size // 200) + 999, 4096, os.urandom(4096)) for k in range(200)]
    if case == "deletetail":   # 10 deletions of 64 KiB and a new 1 MiB tail
        return [(k * (size // 10) + 5000, 64 << 10, b"") for k in range(10)] + [(size, 0, os.urandom(1 << 20))]
for case in cases:
    folder = os.path.join(work, "release-" + case)
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, "pack.pak")
    if os.path.exists(folder + ".done"):
        continue
    with open(os.path.join(work, "old.pak"), "rb") as old, open(target, "wb") as out:
        at = 0
        for offset, removed, data in edits(case):
            out.write(old.read(offset - at)); old.seek(offset + removed); at = offset + removed
            out.write(data)
        while True:
            block = old.read(1 << 22)
            if not block: break
            out.write(block)
    open(folder + ".done", "w").close()
PY

# What each tool serves, made once per case (the time to make it is not
# measured); "old" is the release the player has.
mkdir -p "$work/release-old"
ln -f "$work/old.pak" "$work/release-old/pack.pak"
[ -f "$work/www/old/made" ] || { mkdir -p "$work/www/old"; "$manifest" "$work/release-old" "$work/www/old/launcher" --name update.json >/dev/null; touch "$work/www/old/made"; }
for case in $cases; do
  dir="$work/www/$case"
  if [ ! -f "$dir/made" ]; then
    rm -rf "$dir"; mkdir -p "$dir"
    "$manifest" "$work/release-$case" "$dir/launcher" --name update.json >/dev/null
    ln "$dir/launcher/pack.pak" "$dir/pack.pak"
    touch "$dir/made"
  fi
  if wants zsync && [ ! -f "$dir/pack.pak.zsync" ]; then
    (cd "$dir" && zsyncmake -u pack.pak -o pack.pak.zsync.new "$work/release-$case/pack.pak" && mv pack.pak.zsync.new pack.pak.zsync)
  fi
  if wants casync && [ ! -f "$dir/pack.caibx" ]; then
    casync make --store="$dir/default.castr" "$dir/pack.new.caibx" "$work/release-$case/pack.pak" >/dev/null
    mv "$dir/pack.new.caibx" "$dir/pack.caibx"
  fi
done

user_line=""
[ "$(id -u)" = 0 ] && user_line="user root;"
cat >"$work/nginx.conf" <<CONF
$user_line
worker_processes 2;
daemon on;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 256; }
http {
  log_format sent '\$request_uri \$body_bytes_sent';
  access_log $work/access.log sent;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  sendfile on;
  keepalive_requests 100000;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
rm -f "$work/access.log"
nginx -c "$work/nginx.conf" -p "$work" -e "$work/error.log"
python3 "$here/../tests/peers/relay.py" "$proxy_port" "$port" --rtt-ms "$rtt" --rate "$rate" >"$work/proxy.out" 2>&1 &
proxy_pid=$!
trap 'kill -QUIT "$(cat "$work/nginx.pid")" 2>/dev/null || true; kill "$proxy_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do grep -q ready "$work/proxy.out" 2>/dev/null && break; sleep 0.1; done

sent_since() {  # log offset, URL prefix
  tail -c +"$(($1 + 1))" "$work/access.log" | awk -v p="$2" 'index($1, p) == 1 { s += $2 } END { print s + 0 }'
}

results="$work/results.tsv"
: >"$results"
measure() {  # link, case, tool, prefix of its URLs, output file, command...
  local link="$1" case="$2" tool="$3" prefix="$4" output="$5"; shift 5
  sync
  local offset start end
  offset=$(stat -c %s "$work/access.log" 2>/dev/null || echo 0)
  start=$(date +%s.%N)
  /usr/bin/time -f %M -o "$work/rss.txt" "$@" >"$work/$tool.log" 2>&1 ||
    { echo "$tool failed on $case ($link):" >&2; tail -n 5 "$work/$tool.log" >&2; exit 1; }
  end=$(date +%s.%N)
  cmp -s "$output" "$work/release-$case/pack.pak" || { echo "$tool: wrong result on $case ($link)" >&2; exit 1; }
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$link" "$case" "$tool" "$(sent_since "$offset" "$prefix")" \
    "$(python3 -c "print(round($end - $start, 2))")" "$(tail -n 1 "$work/rss.txt")" >>"$results"
}

for link in $links; do
  p=$port
  [ "$link" = proxy ] && p=$proxy_port
  base="http://127.0.0.1:$p"
  for case in $cases; do
    for kind in launcher fresh launcher-base fresh-base; do
      wants "$kind" || continue
      client="$update"
      case "$kind" in *-base) client="$baseline/tools/launcher-update/launcher-update";; esac
      rm -rf "$work/player" "$work/out"; mkdir -p "$work/player" "$work/out"
      cp "$work/old.pak" "$work/player/pack.pak"
      case "$kind" in launcher*) "$client" --base "http://127.0.0.1:$port/old/launcher/" --dir "$work/player" >/dev/null;; esac
      measure "$link" "$case" "$kind" "/$case/launcher/" "$work/player/pack.pak" \
        "$client" --base "$base/$case/launcher/" --dir "$work/player"
      grep -q 'bytes reused' "$work/player/UpdateLog.txt" || { echo "launcher: no chunked update on $case" >&2; exit 1; }
    done
    mkdir -p "$work/out"
    wants zsync && measure "$link" "$case" zsync "/$case/pack.pak" "$work/out/zsync.pak" \
      zsync -q -i "$work/old.pak" -o "$work/out/zsync.pak" "$base/$case/pack.pak.zsync"
    wants casync && measure "$link" "$case" casync "/$case/" "$work/out/casync.pak" \
      casync extract --seed="$work/old.pak" --store="$base/$case/default.castr" "$base/$case/pack.caibx" "$work/out/casync.pak"
    if [ "$case" = overwrite20 ] && wants whole; then
      measure "$link" "$case" whole "/$case/launcher/pack.pak" "$work/out/pack.pak" \
        "$fetch" "$base/$case/launcher/pack.pak" "$work/out" --workers 5
    fi
    rm -f "$work/out/"*.pak
  done
done

# The local scan alone: the launcher's chunker and hashes against zsync's
# rolling checksums over the same old file (zsync -i with the file itself
# as its target reads and matches it all and fetches nothing).
scan_start=$(date +%s.%N)
"$build/bench/chunkscan" "$work/old.pak" >"$work/chunkscan.txt"
scan_end=$(date +%s.%N)
# The assembly of the new file against a plain copy (printed as it is).
"$build/bench/chunkscan" "$work/old.pak" "$work/release-${cases%% *}/pack.pak" | grep '^assembly' >"$work/assembly.txt"
zs_start=$(date +%s.%N) zs_end=$zs_start
if wants zsync; then
  case1="${cases%% *}"
  (cd "$work/out" && zsync -q -i "$work/release-$case1/pack.pak" -o "$work/out/self.pak" "http://127.0.0.1:$port/$case1/pack.pak.zsync") >/dev/null 2>&1 || true
  zs_end=$(date +%s.%N)
  rm -f "$work/out/self.pak"
fi

python3 - "$results" "$size" "$scan_start" "$scan_end" "$zs_start" "$zs_end" "$work/chunkscan.txt" <<'PY'
import collections, sys
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1]) if l.strip()]
size = int(sys.argv[2])
table = collections.OrderedDict()
for link, case, tool, sent, secs, rss in rows:
    table.setdefault((link, case), {})[tool] = (int(sent), float(secs), int(rss))
mib = lambda b: b / 1048576
names = [n for n in ("launcher", "fresh", "launcher-base", "fresh-base", "zsync", "casync", "whole")
         if any(n in tools for tools in table.values())]
print("%-9s %-11s" % ("link", "change") + "".join("%24s" % (n + " MiB / s") for n in names))
for (link, case), tools in table.items():
    cell = lambda t: ("%9.1f / %6.2f" % (mib(tools[t][0]), tools[t][1])) if t in tools else "-"
    print("%-9s %-11s" % (link, case) + "".join("%24s" % cell(n) for n in names))
print()
for (link, case), tools in table.items():
    for mine in ("launcher", "fresh", "launcher-base", "fresh-base"):
        if mine not in tools: continue
        l = tools[mine]
        parts = ["%s: bytes x%.2f time x%.2f" % (t, l[0] / tools[t][0], l[1] / tools[t][1])
                 for t in ("zsync", "casync", "whole", mine + "-base") if t in tools and t != mine]
        print("%-9s %-11s %-13s against %s; peak RSS %.1f MiB" % (link, case, mine, "; ".join(parts), l[2] / 1024))
scan = float(sys.argv[4]) - float(sys.argv[3])
zs = float(sys.argv[6]) - float(sys.argv[5])
print()
print("local scan of the %d MiB old file: launcher %.0f MB/s (%s)" % (size >> 20, size / scan / 1e6, "; ".join(open(sys.argv[7]).read().split("\n")).strip("; ")) +
      (", zsync %.0f MB/s" % (size / zs / 1e6) if zs > 0 else ""))
PY
echo "${cases%% *}: $(cat "$work/assembly.txt")"
