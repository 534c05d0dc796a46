#!/usr/bin/env bash
# "quorle_audio_host --list" whose X connection breaks while it reads the windows (run it
# under tests/fixtures/with-xvfb): the list's own error line, nothing on standard output,
# exit status 1, and no text of Xlib's. Through the same proxy without a cut, the list works:
# the break, not the proxy, makes the failure.
#   list_x11_lost.sh HOST PROXY
set -uo pipefail
host="$1" proxy="$2"
work="$(mktemp -d /tmp/quorle-list-lost.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# Opcode 0 is no request: nothing is cut.
python3 "$proxy" 0 -- "$host" --list >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || { echo "through the proxy: exit status $status"; cat "$work/err"; exit 1; }
[ ! -s "$work/err" ] || { echo "through the proxy: standard error:"; cat "$work/err"; exit 1; }
[ "$(head -c1 "$work/out")" = "[" ] || { echo "through the proxy: no list"; exit 1; }

# 16 is InternAtom: the list's first request after the connection is set up.
python3 "$proxy" 16 -- "$host" --list >"$work/out" 2>"$work/err"
status=$?
expected='{"code":"capture_failed","event":"error","message":"enumerate application windows: lost the connection to the X display (0x00000020)"}'
[ "$status" -eq 1 ] || { echo "exit status $status"; cat "$work/err"; exit 1; }
[ ! -s "$work/out" ] || { echo "standard output not empty"; exit 1; }
printf '%s\n' "$expected" | cmp - "$work/err" || { echo "got:"; cat "$work/err"; exit 1; }
echo "list_x11_lost: ok"
