#!/usr/bin/env bash
# Starts or stops every real peer the test suite talks to, all on 127.0.0.1.
#   peers.sh start|stop STATE_DIR PORT_BASE
# Each peer is a script tests/peers/NAME.peer taking the same arguments; it
# keeps its files (configuration, logs, pid) under STATE_DIR/NAME and listens
# on PORT_BASE + its own offset (see tests/peers/README.md).
set -u
action="$1" state="$2" base="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mkdir -p "$state"
status=0
for peer in "$here"/*.peer; do
  [ -e "$peer" ] || continue
  name="$(basename "$peer" .peer)"
  mkdir -p "$state/$name"
  if ! bash "$peer" "$action" "$state/$name" "$base"; then
    echo "peer $name: $action failed" >&2
    status=1
  fi
done
exit $status
