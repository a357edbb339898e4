#!/usr/bin/env bash
# Runs a command on a private Xvfb display managed by openbox, for tests that need a real X
# server and window manager.
#   with-xvfb.sh <command> [args...]
set -euo pipefail

fdfile="$(mktemp)"
cleanup() {
    [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null || true
    [ -n "${x_pid:-}" ] && kill "$x_pid" 2>/dev/null || true
    rm -f "$fdfile"
}
trap cleanup EXIT

# -displayfd picks a free display number and writes it once the server accepts clients.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
x_pid=$!
for _ in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    sleep 0.05
done
export DISPLAY=":$(head -n1 "$fdfile")"

openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
# The window manager owns WM_S0 once it manages the screen.
for _ in $(seq 1 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done

export QT_QPA_PLATFORM=xcb
"$@"
