#!/usr/bin/env bash
# Whole-program tests of the driver setup entry through its probe build (entry_probe.cpp):
# natively, or under Wine with QUORLE_E2E_RUNNER set to scripts/wine-run.
#   entry_probe_e2e.sh <case> <probe program> [<planted library>]
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/e2e_lib.sh"
case_name="$1"
probe="$2"
planted="${3:-}"
windows=0
case "$probe" in *.exe) windows=1 ;; esac

# The folder path as the program reports it: a Windows path under Wine (the root is drive Z:).
reported_path() {
    if [ "$windows" -eq 1 ]; then
        printf 'Z:%s' "$1" | tr '/' '\\'
    else
        printf '%s' "$1"
    fi
}

# install_probe <folder>: copies the probe into <folder>.
install_probe() {
    mkdir -p "$1"
    program="$1/$(basename "$probe")"
    cp "$probe" "$program"
}

case "$case_name" in
statuses)
    install_probe "$work/app"
    QUORLE_PROBE_OUTCOME=success run "$program"
    check "success: exit status 0 (got $status)" test "$status" -eq 0
    check "success: no output" test ! -s "$out" -a ! -s "$err"
    QUORLE_PROBE_OUTCOME=restart run "$program"
    # An exit status has 8 bits here, so 3010 arrives as 3010 mod 256.
    check "restart: exit status 3010 mod 256 (got $status)" test "$status" -eq $((3010 % 256))
    check "restart: no output" test ! -s "$out" -a ! -s "$err"
    ;;
arguments)
    install_probe "$work/app"
    for args in "x" "" "a b" '"'; do
        QUORLE_PROBE_OUTCOME=success run "$program" "$args"
        expect_failure_line "argument '$args'" "driver setup takes no arguments"
    done
    ;;
driver_folder)
    # Beside the program, joined with one separator; deep enough to pass MAX_PATH on Windows.
    deep="$work/app with spaces"
    for i in 1 2 3 4 5 6; do deep="$deep/folder-$i-of-a-path-longer-than-the-classic-windows-limit"; done
    install_probe "$deep"
    QUORLE_PROBE_OUTCOME=folder run "$program"
    if [ "$windows" -eq 1 ]; then
        expected="$(reported_path "$deep")\\drivers/vbcable"
    else
        expected="$deep/drivers/vbcable"
    fi
    check "path is longer than 260 characters" test "${#expected}" -gt 260
    expect_failure_line "driver folder" "$expected"
    ;;
no_standard_error)
    install_probe "$work/app"
    status=0
    if [ -n "${QUORLE_E2E_RUNNER:-}" ]; then
        QUORLE_PROBE_OUTCOME=folder "$QUORLE_E2E_RUNNER" "$program" </dev/null >"$out" 2>&- || status=$?
    else
        QUORLE_PROBE_OUTCOME=folder "$program" </dev/null >"$out" 2>&- || status=$?
    fi
    check "closed standard error: exit status 1 (got $status)" test "$status" -eq 1
    check "closed standard error: nothing on standard output" test ! -s "$out"
    ;;
windowless)
    # The program is built for the GUI subsystem: no console of its own, yet its line still
    # reaches an inherited standard error (checked by every other case).
    check "GUI subsystem" sh -c "'${QUORLE_E2E_OBJDUMP:-objdump}' -p '$probe' | grep -Eq 'Subsystem[[:space:]]+0+2[[:space:]]'"
    ;;
planted_library)
    install_probe "$work/app"
    cp "$planted" "$work/app/quorle_planted.dll"
    QUORLE_PROBE_OUTCOME=planted run "$program"
    expect_failure_line "planted library" "default search: not loaded; application folder: loaded"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
finish
