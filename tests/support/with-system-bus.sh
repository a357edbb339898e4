#!/usr/bin/env bash
# Runs a command with a private bus standing in for the system bus, so a test can publish
# system services (UPower) without touching the machine's own.
#   with-system-bus.sh <command> [args...]
set -euo pipefail
exec dbus-run-session -- sh -c 'DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" exec "$@"' sh "$@"
