#!/usr/bin/env bash
# Requests per second of the directory service tool on 127.0.0.1 with a
# 20 KB server list document, beside a bare UDP echo loop (the ceiling).
#   bench/directory.sh BUILD_DIR [SECONDS] [PORT]
set -eu
build="$(cd "$1" && pwd)" seconds="${2:-5}" port="${3:-29950}"
work="$(mktemp -d)"
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
# About 20 KB of servers, compressible like real lists.
python3 - "$work/servers.json" <<'PY'
import json, sys
servers = []
doc = {"server": servers}
# Records until the document as the service sends it (compact) reaches 20 KB.
while len(json.dumps(doc, separators=(",", ":"))) < 20000:
    i = len(servers)
    servers.append({"id": i, "name": "server %d" % i, "ip": "10.0.%d.%d" % (i // 250, i % 250), "port": 7000 + i,
                    "opentime": 1700000000 + i, "member": "group %d" % (i % 9), "recommend": i % 3})
print(len(json.dumps(doc, separators=(",", ":"))), "bytes of document", file=sys.stderr)
json.dump({"12": doc}, open(sys.argv[1], "w"))
PY
tool="$build/tools/directory-service/directory-service"
for mode in auto plain; do
  extra=()
  [ "$mode" = plain ] && extra=(--compress-above 1000000)
  "$tool" --servers "$work/servers.json" --bind 127.0.0.1 --port "$port" --rate 0 --quiet "${extra[@]}" >"$work/log" 2>&1 &
  pid=$!
  sleep 0.5
  echo "== document $([ "$mode" = plain ] && echo plain || echo zlib-compressed)"
  "$build/bench/directory_bench" --port "$port" --seconds "$seconds"
  kill "$pid"; wait "$pid" 2>/dev/null || true
done
