#!/usr/bin/env bash
# Whole-binary test of the Windows "quorle_audio_host.exe --list" under Wine and a real X
# display (run it under tests/fixtures/with-xvfb). A Windows test program shows a window and
# reports its own pid (Wine's pids are its own); that pid must be listed once with the
# program's path, and its start time must pass the identity comparison of a capture.
#   list_wine.sh WINE_RUN HOST_EXE CLIENT_EXE IDENTITY_CHECK_EXE
set -euo pipefail
wine_run="$1" host="$2" client="$3" identity_check="$4"
work="$(mktemp -d /tmp/quorle-list-wine.XXXXXX)"
client_job=""
cleanup() {
    exec 3>&- 2>/dev/null || true
    [ -z "$client_job" ] || wait "$client_job" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/in"
"$wine_run" "$client" <"$work/in" >"$work/client.out" &
client_job=$!
exec 3>"$work/in"
for _ in $(seq 1 600); do
    grep -q '^ready' "$work/client.out" 2>/dev/null && break
    kill -0 "$client_job" 2>/dev/null || { echo "test program ended early"; exit 1; }
    sleep 0.05
done
read -r _ client_pid <"$work/client.out"
client_pid="${client_pid%$'\r'}"
[ -n "$client_pid" ] || { echo "no ready line"; exit 1; }

status=0
"$wine_run" "$host" --list >"$work/list.json" 2>"$work/list.err" || status=$?
[ "$status" -eq 0 ] || { echo "exit status $status"; cat "$work/list.err"; exit 1; }
[ ! -s "$work/list.err" ] || { echo "unexpected standard error:"; cat "$work/list.err"; exit 1; }

expected_exe="Z:$(readlink -f "$client" | tr / '\\')"
python3 - "$work/list.json" "$client_pid" "$expected_exe" >"$work/entry" <<'PY'
import json, sys
path, client_pid, expected_exe = sys.argv[1], sys.argv[2], sys.argv[3]
raw = open(path, "rb").read()
assert not raw.endswith(b"\n"), "trailing newline"
entries = json.loads(raw)
ids = [int(e["id"][4:]) for e in entries]
assert ids == sorted(set(ids)), f"ids not ascending and unique: {ids}"
mine = [e for e in entries if e["id"] == "pid:" + client_pid]
assert len(mine) == 1, f"test program {client_pid} listed {len(mine)} times: {entries}"
e = mine[0]
assert list(e) == ["id", "label", "exe", "start_time", "active"], e
assert e["exe"].lower() == expected_exe.lower(), (e["exe"], expected_exe)
assert e["label"] == e["exe"].rsplit("\\", 1)[-1] and e["active"] is False, e
assert isinstance(e["start_time"], int) and e["start_time"] > 0, e
print(e["exe"])
print(e["start_time"])
PY
exe="$(sed -n 1p "$work/entry")"
start="$(sed -n 2p "$work/entry")"
"$wine_run" "$identity_check" "$client_pid" "$exe" "$start" | tr -d '\r'
echo "list_wine: ok"
