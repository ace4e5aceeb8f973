#!/usr/bin/env bash
# A large download killed with SIGKILL at several moments and started again
# each time. After every kill the resume file must be whole and name as done
# no less than after the kill before (nothing already on the disk is fetched
# again beyond the last checkpoint); the last start must complete with the
# server's bytes, resuming from exactly what the last resume file said.
# Prints the bytes fetched again per kill, from the server's access log.
#   kill-resume.sh LAUNCHER_FETCH PORT_BASE [ACCESS_LOG]
set -u
fetch="$1" base="$2" access_log="${3:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
token="kill$$$(date +%s%N)"
url="http://127.0.0.1:$((base + 3))/slow/f200m.bin?$token"
size=$((200 * 1024 * 1024))
export LAUNCHER_QUIET=1

# Bytes the resume file says are on the disk; "bad" when it cannot be read.
done_bytes() {
  python3 - "$1" "$size" <<'PY'
import re, sys
path, size = sys.argv[1], int(sys.argv[2])
try:
    text = open(path, encoding="latin-1").read()
except OSError:
    print("bad"); sys.exit()
if not re.search(r"^FileSize=%d\r?$" % size, text, re.M):
    print("bad"); sys.exit()
ranges = re.findall(r"^Chunk[0-9A-F]{3}=(\d+)-(\d+)\r?$", text, re.M)
if not ranges:
    print("bad"); sys.exit()
print(size - sum(int(e) - int(s) + 1 for s, e in ranges))
PY
}

previous=0
kills=0
for moment in 0.5 0.3 0.8 0.4 0.6; do
  "$fetch" "$url" "$work" --workers 5 --expect-size "$size" >"$work/run$kills.log" 2>&1 &
  pid=$!
  # Kill once this start has had time to write something of its own.
  for _ in $(seq 1 100); do
    [ -f "$work/f200m.bin.!tmp" ] && break
    sleep 0.05
  done
  sleep "$moment"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if [ -f "$work/f200m.bin" ]; then
    # Finished before the kill: that start was the last one.
    cp "$work/run$kills.log" "$work/last.log"
    break
  fi
  kills=$((kills + 1))
  done_now="$(done_bytes "$work/f200m.bin.!dl")"
  [ "$done_now" != bad ] || { echo "FAIL: the resume file after kill $kills is not whole"; cat "$work/f200m.bin.!dl"; exit 1; }
  [ "$done_now" -ge "$previous" ] || { echo "FAIL: kill $kills: $done_now bytes done, $previous before"; exit 1; }
  echo "kill $kills after ${moment}s: $done_now bytes on the disk and in the resume file"
  previous="$done_now"
done
[ "$kills" -ge 3 ] || { echo "FAIL: only $kills kills landed before the download finished"; exit 1; }
[ "$previous" -gt 0 ] || { echo "FAIL: no checkpoint was written before any kill"; exit 1; }

if [ ! -f "$work/f200m.bin" ]; then
  "$fetch" "$url" "$work" --workers 5 --expect-size "$size" >"$work/last.log" 2>&1 ||
    { echo "FAIL: last start"; cat "$work/last.log"; exit 1; }
fi
grep -q "($size bytes, $previous resumed)" "$work/last.log" ||
  { echo "FAIL: the last start did not resume from the last checkpoint ($previous)"; tail -n 2 "$work/last.log"; exit 1; }
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
if [ -n "$access_log" ] && [ -f "$access_log" ]; then
  sent="$(grep -F "$token" "$access_log" | awk '{ s += $10 } END { print s + 0 }')"
  echo "fetched $sent bytes for $size: $(( (sent - size) / kills )) bytes again per kill on average ($kills kills)"
fi
echo "PASS: killed $kills times; every start resumed from the last checkpoint and the file is whole"
