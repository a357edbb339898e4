#!/bin/sh
# zelvane --version and --help answer without a display and leave nothing behind: no settings
# file, no autostart entry.
set -eu
app=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
run() {
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        "$app" "$@"
}
version=$(run --version)
[ "$version" = "zelvane $2" ] || { echo "unexpected version: $version"; exit 1; }
run --help | grep -q -- "--version" || { echo "help lists no --version"; exit 1; }
[ -z "$(ls -A "$home")" ] || { echo "left behind:"; find "$home"; exit 1; }
