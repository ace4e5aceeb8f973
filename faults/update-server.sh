#!/usr/bin/env bash
# A misbehaving update server: the fault server's "/run/FAULT/" update runs,
# whose one file (1.2 MB, ranged download) stalls, drops every ranged
# answer half-way, answers 500, redirects to itself, sends an endless body,
# a size other than the manifest's, or drips 1 KiB per range and stalls. The install folder holds an older
# version of that file. Each run must end within the bound with a status
# line and a failure exit, leave the old file as it was (or whole and
# right), and a run against nginx serving the right file afterwards must
# complete. One row per fault.
. "$(dirname "${BASH_SOURCE[0]}")/update-lib.sh"
need_tools "misbehaving update server"
# The engine gives up on a download after 60 s without progress; a run makes
# a few passes over a failed file. No run may take longer than this.
bound=240

start_fault_server
start_update_server
mkdir -p "$www/good"
curl -sf -o "$www/good/update.json" "$fault_url/run/good/update.json" &&
  curl -sf -o "$www/good/a.bin" "$fault_url/run/good/a.bin" || {
  row "misbehaving update server" "the fault server's good run" BROKEN "could not fetch its manifest and file"
  exit 0
}
manifest="$www/good/update.json"
game="$work/game"
mkdir -p "$game"

# fault ROUTE what
faults=(
  "stall206|stalls after the head of every ranged answer"
  "stall200|stalls after 1000 bytes of the whole file"
  "dropmid|drops every ranged answer half-way"
  "status500|answers 500"
  "redirectloop|redirects the file to itself"
  "endless200|sends a body without length that never ends"
  "endless206|sends a ranged answer that claims 1 TiB and never ends"
  "longer|sends 1000 bytes more than the manifest's size"
  "shorter|sends 1000 bytes fewer than the manifest's size"
  "drip|answers every range with its head and 1 KiB, then stalls"
)
if [ "$reduced" = 1 ]; then
  faults=("${faults[1]}" "${faults[2]}" "${faults[3]}" "${faults[4]}" "${faults[5]}" "${faults[7]}")
fi

for entry in "${faults[@]}"; do
  route="${entry%%|*}" tried="${entry#*|}"
  name="server $route"
  head -c 1100000 /dev/urandom >"$game/a.bin"
  rm -rf "$game/data" "$game"/*.'!tmp' "$game"/*.'!dl'
  snapshot "$game" "$manifest" >"$work/snapshot"
  started=$(now_ms)
  timeout -s KILL $((bound + 30)) "$update_tool" --base "$fault_url/run/$route" --dir "$game" >"$work/$route.log" 2>&1
  status=$?
  seconds=$(seconds_since "$started")
  verdict="$(check_kill "$game" "$work/snapshot" "$manifest")"
  # The last status line the run showed before its summary.
  status_line="$(sed '/^the update run/,$d' "$work/$route.log" | grep -v '^  total\|^update plan\|^manifest attempt' | tail -n 1)"
  "$update_tool" --base "$update_url/good" --dir "$game" >"$work/$route.good.log" 2>&1
  good=$?
  result="$(complete "$game" "$manifest")"
  log "$route: exit $status in $seconds s, '$status_line', $verdict; good run exit $good, $result"
  detail="exit $status after $seconds s (bound $bound s), status \"$status_line\"; $(kill_words "$verdict"); run against nginx after: exit $good, $(wrong_words "$result")"
  # Held: within the bound, nothing partial, and either a failure that the
  # status line names or (an answer cut to the asked range) the right file.
  ended_well=no
  if [ "$status" = 3 ] && [ "$status_line" = "下载文件 a.bin 失败，请稍后再试" ]; then ended_well=yes; fi
  if [ "$status" = 0 ] && [ "$verdict" = "partial 0 changed 1" ]; then ended_well=yes; fi
  if [ "$ended_well" = yes ] && [ "${seconds%.*}" -lt "$bound" ] &&
     [ "${verdict#partial 0 }" != "$verdict" ] && [ "$good" = 0 ] && all_right "$result"; then
    row "$name" "$tried" held "$detail"
  else
    tail -n 15 "$work/$route.log" >&2
    row "$name" "$tried" BROKEN "$detail"
  fi
done
exit 0
