# Shared helpers of the driver setup whole-program tests (sourced).
#   QUORLE_E2E_RUNNER   optional program to start the tested program with (Wine)
set -uo pipefail

failures=0
work="$(mktemp -d "${TMPDIR:-/tmp}/quorle-setup-e2e.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# run <program> [args...]: runs it with no standard input; sets $status, $out, $err files.
out="$work/stdout"
err="$work/stderr"
run() {
    status=0
    if [ -n "${QUORLE_E2E_RUNNER:-}" ]; then
        "$QUORLE_E2E_RUNNER" "$@" </dev/null >"$out" 2>"$err" || status=$?
    else
        "$@" </dev/null >"$out" 2>"$err" || status=$?
    fi
}

check() {  # check <label> <condition...>
    local label="$1"
    shift
    if "$@"; then
        echo "ok: $label"
    else
        echo "FAILED: $label"
        failures=$((failures + 1))
    fi
}

# expect_failure_line <label> <message>: status 1, exactly the tagged line, nothing on stdout.
expect_failure_line() {
    local expected="$work/expected"
    printf 'QUORLE_DRIVER_SETUP %s\n' "$2" >"$expected"
    check "$1: exit status 1 (got $status)" test "$status" -eq 1
    if ! check "$1: standard error is exactly the failure line" cmp -s "$expected" "$err"; then
        echo "  expected: $(od -c "$expected" | head -5)"
        echo "  actual:   $(od -c "$err" | head -5)"
    fi
    check "$1: nothing on standard output" test ! -s "$out"
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
}
