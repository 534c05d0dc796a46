#!/usr/bin/env bash
# "quorle_audio_host --list" without an X display: the error line on standard error,
# nothing on standard output, exit status 1.
#   list_no_display.sh HOST
set -uo pipefail
work="$(mktemp -d /tmp/quorle-list-nodisplay.XXXXXX)"
trap 'rm -rf "$work"' EXIT
env -u DISPLAY "$1" --list >"$work/out" 2>"$work/err"
status=$?
expected='{"code":"capture_failed","event":"error","message":"enumerate application windows: cannot open X display: DISPLAY is not set (0x00000006)"}'
[ "$status" -eq 1 ] || { echo "exit status $status"; exit 1; }
[ ! -s "$work/out" ] || { echo "standard output not empty"; exit 1; }
printf '%s\n' "$expected" | cmp - "$work/err" || { echo "got:"; cat "$work/err"; exit 1; }
echo "list_no_display: ok"
