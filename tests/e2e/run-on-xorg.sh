#!/usr/bin/env bash
# Runs a command on a private Xorg (dummy driver, two screens side by side, see xorg.conf)
# with openbox as window manager, inside a private D-Bus session with an unlocked
# gnome-keyring. Everything started here is stopped again on exit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zelvane-xorg.XXXXXX")
pids=()

cleanup() {
  local pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# -displayfd lets the server pick a free display and tell us which one once it is ready.
Xorg -displayfd 3 -config "$here/xorg.conf" -configdir "$work/none" -noreset -nolisten tcp \
  -novtswitch -sharevts -logfile "$work/Xorg.log" 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "${pids[0]}" 2>/dev/null || { echo "Xorg failed to start:" >&2; tail -20 "$work/Xorg.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xorg did not report a display" >&2; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"

openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done

"$repo/tests/support/with-keyring.sh" "$@"
