#!/usr/bin/env bash
# The operator's path: a release folder through launcher-manifest into the
# update server's root, then launcher-update brings an empty folder up to
# date and a second run finds nothing to do.
#   headless-update.sh TOOLS_DIR UPDATE_ROOT PORT_BASE
set -u
tools="$1" root="$2" base="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export LAUNCHER_QUIET=1
mkdir -p "$work/release/data/sub"
head -c 300000 /dev/urandom >"$work/release/Client.bin"
head -c 5000 /dev/urandom >"$work/release/data/sub/table.dat"
printf 'hello\r\n' >"$work/release/readme.txt"
"$tools/launcher-manifest/launcher-manifest" "$work/release" "$root/headless" --zip >/dev/null ||
  { echo "FAIL: launcher-manifest"; exit 1; }
url="http://127.0.0.1:$((base + 5))/headless"
"$tools/launcher-update/launcher-update" --base "$url" --dir "$work/install" >"$work/first.log" 2>&1 ||
  { echo "FAIL: first run"; cat "$work/first.log"; exit 1; }
for f in Client.bin data/sub/table.dat readme.txt; do
  cmp -s "$work/release/$f" "$work/install/$f" || { echo "FAIL: $f differs"; exit 1; }
done
"$tools/launcher-update/launcher-update" --base "$url" --dir "$work/install" >"$work/second.log" 2>&1 ||
  { echo "FAIL: second run"; cat "$work/second.log"; exit 1; }
if grep -q '正在下载' "$work/second.log"; then echo "FAIL: the second run downloaded"; exit 1; fi
grep -q 'UpdateNow=0' "$work/install/launcher.ini" || { echo "FAIL: UpdateNow not reset"; exit 1; }
echo "PASS: headless update installed the release and the second run had nothing to do"
