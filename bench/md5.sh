#!/usr/bin/env bash
# MD5 of a 1 GiB page-cached file: the launcher's digest against md5sum and
# openssl, side by side in one hyperfine run.
#   bench/md5.sh BUILD_DIR [SIZE_MIB]
set -euo pipefail
build="$1" size="${2:-1024}"
work="$build/bench-data"
mkdir -p "$work"
file="$work/md5-${size}M.bin"
[ -f "$file" ] || head -c "$((size * 1024 * 1024))" /dev/urandom >"$file"
cat "$file" >/dev/null  # into the page cache
expected="$(md5sum "$file" | cut -d' ' -f1)"
ours="$("$build/bench/md5file" "$file" | cut -d' ' -f1)"
[ "$expected" = "$ours" ] || { echo "digest differs: $ours vs $expected"; exit 1; }
hyperfine --warmup 1 --runs "${RUNS:-5}" --export-json "$work/md5.json" \
  -n launcher "$build/bench/md5file $file" \
  -n md5sum "md5sum $file" \
  -n openssl "openssl md5 $file"
python3 - "$work/md5.json" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
for peer in ("md5sum", "openssl"):
    print(f"launcher / {peer} time: {r['launcher'] / r[peer]:.3f}")
PY
