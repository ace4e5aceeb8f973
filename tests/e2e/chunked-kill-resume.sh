#!/usr/bin/env bash
# A chunked update killed with SIGKILL in the middle and started again: the
# second start takes the ranges the first one recorded as in (FILE.!chunks)
# and fetches only the rest; the pack ends byte for byte right and the old
# copy stays untouched until then. Prints the bytes each start fetched, from
# the server's access log.
#   chunked-kill-resume.sh TOOLS_DIR UPDATE_ROOT PORT_BASE
set -u
tools="$1" root="$2" base="$3"
work="$(mktemp -d)"
release="chunkkill$$"
trap 'rm -rf "$work" "${root:?}/$release"' EXIT
export LAUNCHER_QUIET=1
update="$tools/launcher-update/launcher-update"
manifest="$tools/launcher-manifest/launcher-manifest"
url="http://127.0.0.1:$((base + 5))/crawl/$release/"
log="$root/../access.log"

# The old pack, and the new one with 1 MiB changed in 8 places.
mkdir -p "$work/release/data" "$work/game/data"
head -c $((32 * 1024 * 1024)) /dev/urandom >"$work/game/data/pack.pak"
cp "$work/game/data/pack.pak" "$work/old.pak"
cp "$work/game/data/pack.pak" "$work/release/data/pack.pak"
for k in 0 1 2 3 4 5 6 7; do
  head -c $((1024 * 1024)) /dev/urandom |
    dd of="$work/release/data/pack.pak" bs=65536 seek=$((k * 64 + 7)) conv=notrunc status=none
done
"$manifest" "$work/release" "$root/$release" >/dev/null || { echo "FAIL: launcher-manifest"; exit 1; }

# Bytes of the pack (not its index) served since the log had $1 bytes.
served() {
  tail -c +"$(($1 + 1))" "$log" | awk -v r="/$release/" '
    index($0, r) && $7 ~ /pack\.pak$/ { sum += $10 } END { print sum + 0 }'
}

start=$(stat -c %s "$log")
"$update" --base "$url" --dir "$work/game" >"$work/first.log" 2>&1 &
pid=$!
# Kill once at least one range is recorded as in.
for _ in $(seq 1 600); do
  [ "$(wc -l 2>/dev/null <"$work/game/data/pack.pak.!chunks" || echo 0)" -ge 2 ] && break
  sleep 0.05
done
kill -KILL "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
recorded=$(($(wc -l <"$work/game/data/pack.pak.!chunks") - 1))
[ "$recorded" -ge 1 ] || { echo "FAIL: no range was recorded before the kill"; cat "$work/first.log"; exit 1; }
cmp -s "$work/game/data/pack.pak" "$work/old.pak" || { echo "FAIL: the old copy changed before the new one was whole"; exit 1; }
first=$(served "$start")

middle=$(stat -c %s "$log")
"$update" --base "$url" --dir "$work/game" >"$work/second.log" 2>&1 ||
  { echo "FAIL: the second start did not finish"; cat "$work/second.log" "$work/game/UpdateLog.txt"; exit 1; }
second=$(served "$middle")
cmp -s "$work/game/data/pack.pak" "$work/release/data/pack.pak" || { echo "FAIL: the pack is not the new one"; exit 1; }
[ ! -e "$work/game/data/pack.pak.!new" ] && [ ! -e "$work/game/data/pack.pak.!chunks" ] ||
  { echo "FAIL: the files of the chunked update stayed"; exit 1; }
grep -q 'pack.pak: .* bytes reused' "$work/game/UpdateLog.txt" ||
  { echo "FAIL: the second start did not update in chunks"; cat "$work/game/UpdateLog.txt"; exit 1; }
planned=$(grep -o '[0-9]* fetched' "$work/game/UpdateLog.txt" | head -n 1 | cut -d' ' -f1)
# The second start leaves out at least the ranges recorded (each over 1 MiB).
[ "$second" -le $((planned - recorded * 1024 * 1024)) ] ||
  { echo "FAIL: the second start fetched $second bytes of $planned with $recorded range(s) recorded"; exit 1; }
echo "PASS: killed with $recorded range(s) recorded after $first bytes; the second start fetched $second of $planned bytes and the pack is right"
