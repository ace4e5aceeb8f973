#!/usr/bin/env bash
# The headless updater killed with SIGKILL at random moments of an update
# of a few hundred MB (sparse large files and a few hundred small ones, one
# in four a ZIP entry) from a rate-limited nginx. After every kill, each
# file at its final name must be as before that run or have its manifest
# MD5; the next run continues. When a run finishes before its kill lands,
# the server switches to the other release, so every kill meets work in
# progress. The last run must complete with every file at its manifest MD5.
# FAULTS_SEED replays the random moments of an earlier campaign.
. "$(dirname "${BASH_SOURCE[0]}")/update-lib.sh"
fault="kill -9 launcher-update"
need_tools "$fault"
seed="${FAULTS_SEED:-$(( $(date +%s) % 100000 ))}"
RANDOM=$seed
log "seed $seed"
if [ "$reduced" = 1 ]; then kills=5 large=3 large_mb=48 small=200; else kills=20 large=4 large_mb=64 small=300; fi

start_update_server
make_release "$work/A" "$seed" "$large" "$large_mb" "$small"
make_release "$work/B" "$((seed + 1))" "$large" "$large_mb" "$small"
publish "$work/A" A
publish "$work/B" B
rm -rf "$work/A" "$work/B"
megabytes=$(( $(du -smL "$www/B" | cut -f1) ))
game="$work/game"
ln -sfn A "$www/current"
if ! "$update_tool" --base "$update_url/current" --dir "$game" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  row "$fault" "install of the first release" BROKEN "the unhindered install failed (seed $seed)"
  exit 0
fi
target=B
ln -sfn "$target" "$www/current"

kill_count=0 finished_early=0 partial_total=0 changed_total=0 longest_kill=0
for ((k = 1; k <= kills; )); do
  snapshot "$game" "$www/A/update.json" "$www/B/update.json" >"$work/snapshot"
  moment=$((300 + RANDOM % 5700))
  started=$(now_ms)
  "$update_tool" --base "$update_url/slow/current" --dir "$game" >"$work/run$k.log" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null && [ $(( $(now_ms) - started )) -lt "$moment" ]; do sleep 0.02; done
  if kill -KILL "$pid" 2>/dev/null; then
    wait "$pid" 2>/dev/null
    verdict="$(check_kill "$game" "$work/snapshot" "$www/$target/update.json")"
    read -r _ partial _ changed <<<"$verdict"
    log "kill $k after ${moment} ms (target $target): $verdict"
    partial_total=$((partial_total + partial))
    changed_total=$((changed_total + changed))
    [ "$moment" -gt "$longest_kill" ] && longest_kill=$moment
    kill_count=$((kill_count + 1))
    k=$((k + 1))
  else
    # The run ended before its moment: it must have completed.
    wait "$pid"
    status=$?
    result="$(complete "$game" "$www/$target/update.json")"
    log "run ended by itself before ${moment} ms with $status: $result"
    if [ "$status" != 0 ] || ! all_right "$result"; then
      row "$fault" "a run between kills" BROKEN "ended with $status and $result (seed $seed)"
      exit 0
    fi
    finished_early=$((finished_early + 1))
    target=$([ "$target" = A ] && echo B || echo A)
    ln -sfn "$target" "$www/current"
  fi
done

started=$(now_ms)
"$update_tool" --base "$update_url/slow/current" --dir "$game" >"$work/last.log" 2>&1
status=$?
last_s=$(seconds_since "$started")
result="$(complete "$game" "$www/$target/update.json")"
leftovers=$(find "$game" -name '*.!tmp' -o -name '*.!dl' | wc -l)
log "last run: exit $status in ${last_s} s, $result, $leftovers resume files left"
detail="$kill_count kills of a $megabytes MB release at random moments up to 6 s (seed $seed), $finished_early runs finished between kills; $partial_total partial files seen, $changed_total files replaced whole; last run exit $status in $last_s s, $(wrong_words "$result"), $leftovers resume files left"
if [ "$partial_total" = 0 ] && [ "$status" = 0 ] && all_right "$result"; then
  row "$fault" "$kills kills during the update, then one run" held "$detail"
else
  tail -n 20 "$work/last.log" >&2
  row "$fault" "$kills kills during the update, then one run" BROKEN "$detail"
fi
exit 0
