#!/usr/bin/env bash
# Whole-binary test of "quorle_audio_host --list" against a real X display (run it under
# tests/fixtures/with-xvfb). A test client owns one shown and one unmapped window; its pid
# must be listed once, with its executable and a start time that a later capture accepts.
#   list_x11.sh HOST CLIENT WRAPPER IDENTITY_CHECK plain|frame|client-list
# frame / client-list: another client wraps the test window in a frame of its own, as a
# reparenting window manager does, and marks it with WM_STATE (frame) or publishes it in
# the root's _NET_CLIENT_LIST (client-list); the frame owner must not be listed.
set -euo pipefail
host="$1" client="$2" wrapper="$3" identity_check="$4" mode="$5"
work="$(mktemp -d /tmp/quorle-list-x11.XXXXXX)"
pids=()
cleanup() {
    exec 3>&- 4>&- 2>/dev/null || true
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Starts a program with its standard input on a pipe held open by this shell (fd $1), so
# that closing the fd ends the program; waits for its "ready" line.
start_held() {  # fd out_file program args...
    local fd="$1" out="$2"
    shift 2
    mkfifo "$work/in$fd"
    "$@" <"$work/in$fd" >"$out" &
    pids+=("$!")
    eval "exec $fd>\"$work/in$fd\""
    for _ in $(seq 1 200); do
        grep -q '^ready' "$out" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "no ready line from $*" >&2
    return 1
}

start_held 3 "$work/client.out" "$client"
read -r _ client_pid window <"$work/client.out"
wrapper_pid=""
if [ "$mode" != plain ]; then
    start_held 4 "$work/wrapper.out" "$wrapper" "$window" "$mode"
    read -r _ wrapper_pid <"$work/wrapper.out"
fi

status=0
"$host" --list >"$work/list.json" 2>"$work/list.err" || status=$?
[ "$status" -eq 0 ] || { echo "exit status $status"; cat "$work/list.err"; exit 1; }
[ ! -s "$work/list.err" ] || { echo "unexpected standard error:"; cat "$work/list.err"; exit 1; }

python3 - "$work/list.json" "$client_pid" "$(readlink -f "$client")" "${wrapper_pid:-0}" \
    >"$work/entry" <<'PY'
import json, sys
path, client_pid, client_exe, wrapper_pid = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
raw = open(path, "rb").read()
assert not raw.endswith(b"\n"), "trailing newline"
entries = json.loads(raw)
ids = [int(e["id"][4:]) for e in entries]
assert ids == sorted(set(ids)), f"ids not ascending and unique: {ids}"
for e in entries:
    assert list(e) == ["id", "label", "exe", "start_time", "active"], e
    assert e["active"] is False and e["label"] == e["exe"].rsplit("/", 1)[-1], e
    assert isinstance(e["start_time"], int) and e["start_time"] > 0, e
mine = [e for e in entries if e["id"] == "pid:" + client_pid]
assert len(mine) == 1, f"client {client_pid} listed {len(mine)} times: {entries}"
assert mine[0]["exe"] == client_exe, mine[0]
assert mine[0]["label"] == client_exe.rsplit("/", 1)[-1], mine[0]
assert wrapper_pid == "0" or all(e["id"] != "pid:" + wrapper_pid for e in entries), \
    f"frame owner {wrapper_pid} listed: {entries}"
print(mine[0]["exe"], mine[0]["start_time"])
PY
read -r exe start <"$work/entry"
"$identity_check" "$client_pid" "$exe" "$start"
echo "list_x11 $mode: ok"
