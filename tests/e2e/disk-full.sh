#!/usr/bin/env bash
# An update that does not fit on the disk: the install folder lies on a small
# tmpfs that this script mounts (and removes). First the run's check before
# it writes anything: the status line names the room needed and free, the
# tool exits 6 and the game files are as they were (the manifest copy, the
# state file and launcher.ini are written as by every run). Then, with that check off, the
# disk fills in the middle of the run, which must say which file it could
# not write, exit with the tools' code for "files still wrong" (3), and
# leave every file at its final name either as it was or as the release has
# it: never empty, never cut short. Skipped (exit 77) where mount is refused.
#   disk-full.sh TOOLS_DIR UPDATE_ROOT PORT_BASE
set -u
tools="$1" root="$2" base="$3"
work="$(mktemp -d)"
mnt="$work/disk"
mkdir -p "$mnt"
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=8m tmpfs "$mnt" 2>"$work/mount.err"; then
  echo "SKIP: cannot mount a tmpfs here ($(cat "$work/mount.err"))"
  exit 77
fi
export LAUNCHER_QUIET=1
update="$tools/launcher-update/launcher-update"
manifest="$tools/launcher-manifest/launcher-manifest"
url="http://127.0.0.1:$((base + 5))/diskfull$$"

# Release 1 fits; release 2 changes both files and adds one larger than the disk.
mkdir -p "$work/r1" "$work/r2"
head -c 1000000 /dev/urandom >"$work/r1/a.bin"
head -c 1000000 /dev/urandom >"$work/r1/b.bin"
head -c 1000000 /dev/urandom >"$work/r2/a.bin"
head -c 1000000 /dev/urandom >"$work/r2/b.bin"
head -c 12000000 /dev/urandom >"$work/r2/c.bin"
"$manifest" "$work/r1" "$root/diskfull$$" >/dev/null || { echo "FAIL: launcher-manifest"; exit 1; }
"$update" --base "$url" --dir "$mnt/game" >"$work/first.log" 2>&1 ||
  { echo "FAIL: the first release did not install"; cat "$work/first.log"; exit 1; }
rm -rf "${root:?}/diskfull$$"
"$manifest" "$work/r2" "$root/diskfull$$" >/dev/null || { echo "FAIL: launcher-manifest"; exit 1; }

(cd "$mnt/game" && find . -type f ! -name UpdateLog.txt ! -name launcher.ini ! -path "./data/*" -exec md5sum {} + | sort) >"$work/before.sums"
"$update" --base "$url" --dir "$mnt/game" >"$work/checked.log" 2>&1
status=$?
[ "$status" -eq 6 ] || { echo "FAIL: exit code $status with the space check, expected 6"; cat "$work/checked.log"; exit 1; }
grep -q '#117 : 磁盘空间不足：本次更新需要 12.4 MB，磁盘可用 [0-9.]* MB，请释放空间后再试。' "$work/checked.log" ||
  { echo "FAIL: no status line names the room needed and free"; cat "$work/checked.log"; exit 1; }
(cd "$mnt/game" && find . -type f ! -name UpdateLog.txt ! -name launcher.ini ! -path "./data/*" -exec md5sum {} + | sort) >"$work/after.sums"
cmp -s "$work/before.sums" "$work/after.sums" ||
  { echo "FAIL: the refused run changed the folder"; diff "$work/before.sums" "$work/after.sums"; exit 1; }

"$update" --base "$url" --dir "$mnt/game" --no-space-check >"$work/second.log" 2>&1
status=$?
rm -rf "${root:?}/diskfull$$"
[ "$status" -eq 3 ] || { echo "FAIL: exit code $status, expected 3"; cat "$work/second.log"; exit 1; }
grep -q '写入文件 c.bin 失败' "$work/second.log" ||
  { echo "FAIL: no status line names the file that could not be written"; cat "$work/second.log"; exit 1; }
for f in a.bin b.bin; do
  if ! cmp -s "$mnt/game/$f" "$work/r1/$f" && ! cmp -s "$mnt/game/$f" "$work/r2/$f"; then
    echo "FAIL: $f is neither the old file nor the new one ($(stat -c %s "$mnt/game/$f") bytes)"; exit 1
  fi
done
if [ -e "$mnt/game/c.bin" ]; then echo "FAIL: c.bin appeared although it could not be written"; exit 1; fi
echo "PASS: the space check refused the run with exit 6 and changed nothing; out of space mid-run, the run exited 3, named c.bin and left no file empty or cut short"
