#!/usr/bin/env bash
# Whole-binary test of the Windows "quorle_audio_host.exe --list" under Wine and a real X
# display (run it under tests/fixtures/with-xvfb). A Windows test program shows a window and
# reports its own pid (Wine's pids are its own); that pid must be listed once with the
# program's path, and its start time must pass the identity comparison of a capture.
#   list_wine.sh WINE_RUN PREFIX HOST_EXE CLIENT_EXE IDENTITY_CHECK_EXE
# PREFIX is a Wine prefix of this test's own (created on first use, then reused): Wine's
# desktop process binds to the X display of the program that starts it, and the prefix the
# other tests share has its desktop started without a display, where no window can be made.
set -euo pipefail
wine_run="$1" prefix="$2" host="$3" client="$4" identity_check="$5"
export WINEPREFIX="$prefix" WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
work="$(mktemp -d /tmp/quorle-list-wine.XXXXXX)"
client_job=""
stop_wine() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}
cleanup() {
    exec 3>&- 2>/dev/null || true
    [ -z "$client_job" ] || wait "$client_job" 2>/dev/null || true
    stop_wine
    rm -rf "$work"
}
trap cleanup EXIT
# A server left by an interrupted run would still hold a desktop on a display that is gone.
stop_wine
if [ ! -f "$prefix/system.reg" ]; then
    # Created first, by a server of its own: set-up waits for every Wine process to end.
    "$wine_run" cmd /c exit 0 >/dev/null 2>&1 || true
    wineserver -w
fi
wineserver -p

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
assert e["exe"] == expected_exe, (e["exe"], expected_exe)
assert e["label"] == e["exe"].rsplit("\\", 1)[-1] and e["active"] is False, e
assert isinstance(e["start_time"], int) and e["start_time"] > 0, e
print(e["exe"])
print(e["start_time"])
PY
exe="$(sed -n 1p "$work/entry")"
start="$(sed -n 2p "$work/entry")"
"$wine_run" "$identity_check" "$client_pid" "$exe" "$start" | tr -d '\r'
echo "list_wine: ok"
