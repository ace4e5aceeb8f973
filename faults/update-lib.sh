# Shared by the update rows of the fault campaign (sourced, not run).
# Gives: row, the peers (the update server nginx of tests/peers on base+5
# with its rate-limited /slow/ tree, and the fault server on base+1),
# published releases, and the file checks of update_files.py.
set -u
faults_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$faults_dir/.." && pwd)"
peers="$top/tests/peers"
native="${FAULTS_NATIVE_BUILD:-$top/build/native}"
win32="${FAULTS_WIN32_BUILD:-$top/build/win32}"
base="${FAULTS_PORT_BASE:-24000}"
reduced="${FAULTS_REDUCED:-0}"
work="${FAULTS_WORK:-$(mktemp -d)}"
update_tool="$native/tools/launcher-update/launcher-update"
manifest_tool="$native/tools/launcher-manifest/launcher-manifest"
files_py="$faults_dir/update_files.py"
update_state="$work/peers/update"
fault_state="$work/peers/faults"
www="$update_state/www"
update_url="http://127.0.0.1:$((base + 5))"
fault_url="http://127.0.0.1:$((base + 1))"
export LAUNCHER_QUIET=1

# row FAULT TRIED held|BROKEN DETAIL
row() { printf 'ROW\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4"; }

log() { echo "$*" >&2; }

cleanup_hooks=()
on_exit() { cleanup_hooks+=("$1"); }
run_cleanup() {
  local i
  for ((i = ${#cleanup_hooks[@]} - 1; i >= 0; i--)); do eval "${cleanup_hooks[$i]}" >&2 2>&1 || true; done
}
trap run_cleanup EXIT
trap 'exit 143' TERM INT

start_update_server() {
  on_exit "bash '$peers/updateserver.peer' stop '$update_state' $base"
  bash "$peers/updateserver.peer" start "$update_state" "$base" >&2
}

start_fault_server() {
  on_exit "bash '$peers/fault-server.peer' stop '$fault_state' $base"
  bash "$peers/fault-server.peer" start "$fault_state" "$base" >&2
}

# need_tools FAULT_NAME: a row and exit 0 when the native tools are missing.
need_tools() {
  local t name="$1"; shift
  for t in "$update_tool" "$manifest_tool" "$@"; do
    if [ ! -x "$t" ]; then
      row "$name" "the build's tools" BROKEN "missing $t (build the native tools first)"
      exit 0
    fi
  done
}

# make_release FOLDER SEED LARGE_COUNT LARGE_MB SMALL_COUNT
make_release() { python3 "$files_py" make "$@"; }

# publish RELEASE_DIR NAME_UNDER_WWW [MANIFEST_NAME]: one file in four as a ZIP entry.
publish() {
  python3 "$files_py" publish "$1" "$www/$2" "${3:-update.json}" "$manifest_tool"
}

snapshot() { python3 "$files_py" snapshot "$@"; }
# check_kill DIR SNAPSHOT MANIFEST: prints "partial N changed N".
check_kill() { python3 "$files_py" check "$@"; }
# complete DIR MANIFEST: prints "wrong N of M".
complete() { python3 "$files_py" complete "$@"; }

# Milliseconds since the epoch.
now_ms() { date +%s%3N; }
# Seconds since a now_ms value, with one decimal.
seconds_since() { awk -v a="$1" -v b="$(now_ms)" 'BEGIN { printf "%.1f", (b - a) / 1000 }'; }
# "partial N changed M" as a row's words.
kill_words() { read -r _ p _ c <<<"$1"; echo "$p partial files, $c replaced whole"; }
# "wrong N of M" as a row's words.
wrong_words() { read -r _ n _ m <<<"$1"; echo "$n of $m files wrong"; }
# True when "wrong N of M" says that nothing is wrong.
all_right() { [ "${1#wrong 0 of }" != "$1" ]; }
