#!/usr/bin/env bash
# The Windows launcher (launcher.exe of the Windows build, packed with the
# demo skin) killed with SIGKILL of its Wine process at random moments of
# its client update from a rate-limited nginx: a release of a few hundred
# MB, sparse large files and a few hundred small ones, one in four a ZIP
# entry. The game folder starts with the other release, installed by the
# headless updater. update_kills_wine.py drives the starts and checks the
# files after each kill; the last start must complete the release.
# Runs on an Xvfb display of its own (xvfb-run -a) when none is given.
# FAULTS_SEED replays the random moments of an earlier campaign.
if [ -z "${FAULTS_ON_XVFB:-}" ] && [ -z "${DISPLAY:-}" ]; then
  if ! command -v xvfb-run >/dev/null; then
    printf 'ROW\tkill -9 launcher.exe under Wine\tan X display\tskipped\tno display and no xvfb-run\n'
    exit 77
  fi
  FAULTS_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
. "$(dirname "${BASH_SOURCE[0]}")/update-lib.sh"
fault="kill -9 launcher.exe under Wine"
pack_tool="$native/tools/launcher-pack/launcher-pack"
launcher_exe="$win32/launcher/launcher.exe"
need_tools "$fault" "$pack_tool"
if [ ! -f "$launcher_exe" ]; then
  row "$fault" "the Windows build" BROKEN "missing $launcher_exe (build the win32 launcher first)"
  exit 0
fi
if ! command -v wine >/dev/null; then
  row "$fault" "Wine" skipped "wine is not installed"
  exit 77
fi
seed="${FAULTS_SEED:-$(( $(date +%s) % 100000 ))}"
log "seed $seed"
if [ "$reduced" = 1 ]; then kills=3 large=3 large_mb=48 small=200; else kills=20 large=4 large_mb=64 small=300; fi

start_update_server
make_release "$work/A" "$seed" "$large" "$large_mb" "$small"
make_release "$work/B" "$((seed + 1))" "$large" "$large_mb" "$small"
publish "$work/A" A
publish "$work/B" B
rm -rf "$work/A" "$work/B"
# The launcher's own run: one small file, no program (no self-update swap).
mkdir -p "$work/launcher-release/data"
head -c 300000 /dev/urandom >"$work/launcher-release/data/launcher-res.dat"
"$manifest_tool" "$work/launcher-release" "$www/launcher" --name updateL.json >&2
megabytes=$(( $(du -smL "$www/B" | cut -f1) ))

# The demo's skin and positions, with the update addresses of this server.
bash "$top/demo/make-skin.sh" "$work/skin" >&2 || { row "$fault" "the demo skin" BROKEN "make-skin failed"; exit 0; }
sed -e "s#127\.0\.0\.1:8080/client/#127.0.0.1:$((base + 5))/slow/current#" \
    -e "s#127\.0\.0\.1:8080/launcher/#127.0.0.1:$((base + 5))/launcher#" \
    -e "s#127\.0\.0\.1:8080#127.0.0.1:$((base + 5))#g" "$top/demo/CONFIG.txt" >"$work/CONFIG.txt"
game="$work/game"
mkdir -p "$game/data"
printf x >"$game/Korblib.dll"
printf x >"$game/d3dx9_43.dll"
"$pack_tool" pack --exe "$launcher_exe" --config "$work/CONFIG.txt" --skin "$work/skin" \
  --positions "$top/demo/positions.json" -o "$game/launcher.exe" >&2 ||
  { row "$fault" "packing launcher.exe" BROKEN "launcher-pack failed"; exit 0; }

ln -sfn A "$www/current"
if ! "$update_tool" --base "$update_url/current" --dir "$game" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  row "$fault" "install of the first release" BROKEN "the unhindered install failed (seed $seed)"
  exit 0
fi
ln -sfn B "$www/current"

# The prefix stays in the build folder: only its first creation is slow.
figures="$(python3 "$faults_dir/update_kills_wine.py" "$game" "$www" "$win32/wineprefix-faults" "$kills" "$seed" "$work")"
driver=$?
log "figures: $figures"
if [ "$driver" != 0 ] || [ -z "$figures" ]; then
  row "$fault" "$kills kills during the update, then one start" BROKEN "the driver failed (exit $driver, seed $seed)"
  exit 0
fi
read -r _ killed _ early _ partial _ changed _ startup_ms _ last_s _ wrong _ total _ crashed <<<"$figures"
detail="$killed kills of launcher.exe updating a $megabytes MB release at random moments up to 6 s after its manifest request (seed $seed), $early client runs finished between kills; $partial partial files seen, $changed files replaced whole; last start finished its client run in $last_s s with $wrong of $total files wrong; slowest start to the manifest request $((startup_ms / 1000)) s; $crashed starts ended by themselves"
if [ "$killed" = "$kills" ] && [ "$partial" = 0 ] && [ "$wrong" = 0 ] && [ "$crashed" = 0 ]; then
  row "$fault" "$kills kills during the update, then one start" held "$detail"
else
  row "$fault" "$kills kills during the update, then one start" BROKEN "$detail"
fi
exit 0
