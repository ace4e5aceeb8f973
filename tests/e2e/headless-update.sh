#!/usr/bin/env bash
# The operator's path: a release folder through launcher-manifest into the
# update server's root, then launcher-update brings an empty folder, given
# relative to the working directory, up to date; a second run finds nothing
# to do; a release whose file no longer matches its manifest exits 3. A
# release holding a device name or two names that Windows takes for one file
# is refused by launcher-manifest, which names them and publishes nothing.
#   headless-update.sh TOOLS_DIR UPDATE_ROOT PORT_BASE
set -u
tools="$1" root="$2" base="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export LAUNCHER_QUIET=1
update="$tools/launcher-update/launcher-update"
mkdir -p "$work/release/data/sub" "$work/cwd"
head -c 300000 /dev/urandom >"$work/release/Client.bin"
head -c 5000 /dev/urandom >"$work/release/data/sub/table.dat"
printf 'hello\r\n' >"$work/release/readme.txt"
"$tools/launcher-manifest/launcher-manifest" "$work/release" "$root/headless$$" --zip >/dev/null ||
  { echo "FAIL: launcher-manifest"; exit 1; }
url="http://127.0.0.1:$((base + 5))/headless$$"
# A relative folder, two levels deep, from a working directory of its own.
cd "$work/cwd" || exit 1
"$update" --base "$url" --dir "game/install" >"$work/first.log" 2>&1 ||
  { echo "FAIL: first run"; cat "$work/first.log"; exit 1; }
stray="$(ls -A "$work/cwd")"
[ "$stray" = game ] || { echo "FAIL: the run created more than its folder here: $stray"; exit 1; }
install="$work/cwd/game/install"
for f in Client.bin data/sub/table.dat readme.txt; do
  cmp -s "$work/release/$f" "$install/$f" || { echo "FAIL: $f differs"; exit 1; }
done
# The status lines are printed in UTF-8: the first run shows its downloads.
grep -q '正在下载 Client.bin.zip' "$work/first.log" ||
  { echo "FAIL: the first run printed no download line"; cat "$work/first.log"; exit 1; }
"$update" --base "$url" --dir "game/install" >"$work/second.log" 2>&1 ||
  { echo "FAIL: second run"; cat "$work/second.log"; exit 1; }
if grep -q '正在下载' "$work/second.log"; then echo "FAIL: the second run downloaded"; exit 1; fi
grep -q 'UpdateNow=0' "$install/launcher.ini" || { echo "FAIL: UpdateNow not reset"; exit 1; }
# The server's file changes under its manifest: the run still reports
# success as the window would hear it, but the tool exits 3.
rm -f "$install/readme.txt"
printf 'changed\r\n' >"$work/changed.txt"
(cd "$work" && zip -q -j changed.zip changed.txt && cp changed.zip "$root/headless$$/readme.txt.zip")
"$update" --base "$url" --dir "game/install" >"$work/third.log" 2>&1
status=$?
rm -rf "${root:?}/headless$$"
[ "$status" -eq 3 ] || { echo "FAIL: exit code $status with a wrong file, expected 3"; cat "$work/third.log"; exit 1; }
# Releases that launchers would refuse are never published.
mkdir -p "$work/bad/Data" "$work/bad/data" "$work/bad/sub"
printf 'A' >"$work/bad/Data/A.bin"
printf 'a' >"$work/bad/data/a.bin"
printf 'x' >"$work/bad/sub/com1.bin"
"$tools/launcher-manifest/launcher-manifest" "$work/bad" "$root/headless-bad$$" >/dev/null 2>"$work/bad.log"
status=$?
[ "$status" -eq 1 ] || { echo "FAIL: launcher-manifest exit $status on a release it must refuse"; exit 1; }
[ ! -e "$root/headless-bad$$" ] || { echo "FAIL: the refused release was published"; exit 1; }
grep -q '"sub\\com1.bin": ' "$work/bad.log" || { echo "FAIL: com1.bin not named"; cat "$work/bad.log"; exit 1; }
grep -q '"Data\\A.bin" and "data\\a.bin" are the same file on Windows' "$work/bad.log" ||
  { echo "FAIL: the colliding pair not named"; cat "$work/bad.log"; exit 1; }
echo "PASS: relative folder installed, the second run had nothing to do, a wrong file exits 3, refused releases"
