#!/usr/bin/env bash
# The disk fills up during an update: the install folder lies on a small
# tmpfs (8 MB) mounted by this script. Release 1 fits; release 2 changes
# both of its files and adds c.bin of 12 MB, which either does not fit as a
# download (plain) or fits as a download but not once extracted (a ZIP entry
# that compresses well). The run must fail with a status line, leave every
# file as before or whole at its manifest MD5, and after the tmpfs grows to
# 64 MB the next run must complete. Exit 77 where mount is refused.
. "$(dirname "${BASH_SOURCE[0]}")/update-lib.sh"
need_tools "disk full"
bound=120

probe="$work/probe"
mkdir -p "$probe"
if ! mount -t tmpfs -o size=1m tmpfs "$probe" 2>"$work/mount.err"; then
  row "disk full" "mount a small tmpfs" skipped "mount refused: $(head -c 200 "$work/mount.err")"
  exit 77
fi
umount "$probe"
start_update_server

# publish_release FOLDER NAME [--zip]
publish_release() { "$manifest_tool" "$1" "$www/$2" "${@:3}" >&2; }

for case in download extraction; do
  fault="disk full during $case"
  disk="$work/disk-$case"
  mkdir -p "$disk" "$work/$case-1" "$work/$case-2"
  mount -t tmpfs -o size=8m tmpfs "$disk" || { row "$fault" "mount" BROKEN "the second mount failed"; continue; }
  on_exit "mountpoint -q '$disk' && umount '$disk'"
  zip=()
  [ "$case" = extraction ] && zip=(--zip)
  head -c 1000000 /dev/urandom >"$work/$case-1/a.bin"
  head -c 1000000 /dev/urandom >"$work/$case-1/b.bin"
  head -c 1000000 /dev/urandom >"$work/$case-2/a.bin"
  head -c 1000000 /dev/urandom >"$work/$case-2/b.bin"
  if [ "$case" = download ]; then
    head -c 12000000 /dev/urandom >"$work/$case-2/c.bin"
  else
    # 12 MB that deflates to a few KB: the download fits, the file does not.
    yes "the same line, again and again, so that it packs small" | head -c 12000000 >"$work/$case-2/c.bin"
  fi
  publish_release "$work/$case-1" "$case-1" "${zip[@]}"
  publish_release "$work/$case-2" "$case-2" "${zip[@]}"
  game="$disk/game"
  if ! "$update_tool" --base "$update_url/$case-1" --dir "$game" >"$work/$case-first.log" 2>&1; then
    row "$fault" "install of release 1" BROKEN "release 1 did not install on the 8 MB disk"
    continue
  fi
  snapshot "$game" "$www/$case-1/update.json" "$www/$case-2/update.json" >"$work/$case.snapshot"
  started=$(now_ms)
  # The run's own space check would refuse release 2 before writing (its
  # 12 MB file cannot fit): the disk must fill in the middle of the run here.
  timeout -s KILL $((bound + 30)) "$update_tool" --base "$update_url/$case-2" --dir "$game" --no-space-check >"$work/$case.log" 2>&1
  status=$?
  seconds=$(seconds_since "$started")
  status_line="$(sed '/^the update run/,$d' "$work/$case.log" | grep -v '^  total\|^update plan\|^manifest attempt' | tail -n 1)"
  verdict="$(check_kill "$game" "$work/$case.snapshot" "$www/$case-2/update.json")"
  free_kb=$(df -k --output=avail "$disk" | tail -n 1 | tr -d ' ')
  mount -o remount,size=64m "$disk"
  "$update_tool" --base "$update_url/$case-2" --dir "$game" >"$work/$case-next.log" 2>&1
  next=$?
  result="$(complete "$game" "$www/$case-2/update.json")"
  log "$case: exit $status in $seconds s, '$status_line', $verdict, $free_kb KB free after; next run exit $next, $result"
  detail="exit $status after $seconds s (bound $bound s), status \"$status_line\"; $(kill_words "$verdict"); $free_kb KB of 8 MB free after the failed run; with 64 MB the next run: exit $next, $(wrong_words "$result")"
  # The run ends on the status line of its last write failure, which names
  # the file and the disk.
  case "$status_line" in
    写入文件\ [abc].bin\ 失败，请检查磁盘空间) named=yes ;;
    *) named=no ;;
  esac
  if [ "$status" = 3 ] && [ "${seconds%.*}" -lt "$bound" ] && [ "$named" = yes ] &&
     [ "${verdict#partial 0 }" != "$verdict" ] && [ "$next" = 0 ] && all_right "$result"; then
    row "$fault" "12 MB file on an 8 MB tmpfs, then 64 MB" held "$detail"
  else
    cat "$work/$case.log" >&2
    row "$fault" "12 MB file on an 8 MB tmpfs, then 64 MB" BROKEN "$detail"
  fi
done
exit 0
