#!/usr/bin/env bash
# A download killed with SIGKILL in the middle, then started again, must
# complete with the server's bytes.
#   kill-resume.sh LAUNCHER_FETCH PORT_BASE
set -u
fetch="$1" base="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
url="http://127.0.0.1:$((base + 3))/slow/f200m.bin"
export LAUNCHER_QUIET=1

"$fetch" "$url" "$work" --workers 5 >"$work/first.log" 2>&1 &
pid=$!
# Wait until some data is on the disk, then kill without warning.
for _ in $(seq 1 100); do
  size=$(stat -c %s "$work/f200m.bin.!tmp" 2>/dev/null || echo 0)
  [ "$size" -gt 0 ] && break
  sleep 0.05
done
sleep 0.4
kill -KILL "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
if [ -f "$work/f200m.bin" ]; then
  echo "FAIL: the download finished before it could be killed"; exit 1
fi
[ -f "$work/f200m.bin.!tmp" ] || { echo "FAIL: no temporary file after the kill"; exit 1; }

"$fetch" "$url" "$work" --workers 5 >"$work/second.log" 2>&1 || { echo "FAIL: second run"; cat "$work/second.log"; exit 1; }
expected="$(python3 - <<'PY'
import hashlib
base = bytes((31 * j + (j >> 8)) & 0xFF for j in range(65536))
md5 = hashlib.md5()
for k in range(200 * 1024 * 1024 // 65536):
    md5.update(base.translate(bytes((x + 7 * k) & 0xFF for x in range(256))))
print(md5.hexdigest())
PY
)"
actual="$(md5sum "$work/f200m.bin" | cut -d' ' -f1)"
[ "$expected" = "$actual" ] || { echo "FAIL: digest $actual, expected $expected"; exit 1; }
[ ! -e "$work/f200m.bin.!dl" ] || { echo "FAIL: resume file left behind"; exit 1; }
echo "PASS: killed download completed on the next start ($(tail -n 1 "$work/second.log"))"
