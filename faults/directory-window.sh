#!/usr/bin/env bash
# The directory service down, slow or sending garbage while the launcher's
# window is open (launcher.exe under Wine). Needs an X server: without
# DISPLAY the rows run on an Xvfb display of their own. Rows on stdout; see
# directory_rows.py.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [ -n "${DISPLAY:-}" ]; then
  exec python3 "$here/directory_rows.py"
fi
if ! command -v xvfb-run >/dev/null; then
  printf 'ROW\tdirectory service faults\tlauncher window under Wine\tskipped\tno display and no xvfb-run\n'
  exit 77
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" python3 "$here/directory_rows.py"
