#!/usr/bin/env bash
# Runs a command inside a private D-Bus session whose Secret Service is a fresh, unlocked
# gnome-keyring, so tests never touch the user's own keyring.
#   with-keyring.sh <command> [args...]
#   with-keyring.sh --bare <command> [args...]   a private session with no Secret Service
set -euo pipefail


if [ "${1:-}" = "--bare" ]; then
    shift
    # A session bus without the standard service folders, so nothing can be activated.
    conf="$(mktemp)"
    trap 'rm -f "$conf"' EXIT
    cat >"$conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    dbus-run-session --config-file="$conf" -- "$@"
    exit $?
fi

if [ -z "${ZELVANE_IN_KEYRING_SESSION:-}" ]; then
    export ZELVANE_IN_KEYRING_SESSION=1
    # Services the session starts on demand (the desktop's calendar store among them) read
    # a throw-away home, never the user's own calendars.
    ZELVANE_SESSION_HOME="$(mktemp -d)"
    export ZELVANE_SESSION_HOME
    export XDG_CONFIG_HOME="$ZELVANE_SESSION_HOME/config" XDG_DATA_HOME="$ZELVANE_SESSION_HOME/data" \
        XDG_CACHE_HOME="$ZELVANE_SESSION_HOME/cache"
    exec dbus-run-session -- "$0" "$@"
fi

# Inside the private session: a throw-away keyring home, then the daemon.
keyring_home="$(mktemp -d)"
cleanup() {
    [ -n "${daemon_pid:-}" ] && kill "$daemon_pid" 2>/dev/null || true
    rm -rf "$keyring_home" "${ZELVANE_SESSION_HOME:-}"
}
trap cleanup EXIT

# One line feed on stdin sets the (empty) password that creates and unlocks the login
# collection; an empty input would leave every store failing.
printf '\n' | XDG_DATA_HOME="$keyring_home" XDG_RUNTIME_DIR="$keyring_home" \
    gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
daemon_pid=$!

for _ in $(seq 1 100); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
        grep -q 'boolean true'; then
        break
    fi
    sleep 0.1
done

# Tests that stall the keyring (SIGSTOP) find the daemon here.
export ZELVANE_KEYRING_DAEMON_PID="$daemon_pid"
"$@"
