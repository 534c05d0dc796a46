#!/usr/bin/env bash
# Whole-program tests of quorle_driver_setup, copied into a temporary application folder as
# the translator's installation would hold it.
#   driver_setup_e2e.sh <case> <shipped program> <synthetic-manifest program>
# The synthetic build carries a manifest of four small files (synthetic_manifest.json beside
# this script) so that a run can pass the integrity check.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/e2e_lib.sh"
case_name="$1"
shipped="$2"
synthetic="$3"

# An application folder whose path has a space and non-ASCII letters in it.
app="$work/Quorle Caf\xc3\xa9"
app="$(printf "$app")"
drivers="$app/drivers/vbcable"
mkdir -p "$app"

# install <program>: copies it into the application folder as quorle_driver_setup.
install_program() {
    cp "$1" "$app/quorle_driver_setup"
    program="$app/quorle_driver_setup"
}

# The four synthetic files, exactly as the synthetic manifest describes them.
write_synthetic_package() {
    mkdir -p "$drivers"
    printf 'Signature=synthetic\r\n' >"$drivers/Alpha.inf"
    printf 'synthetic driver bytes\n' >"$drivers/beta.sys"
    : >"$drivers/empty.cat"
    printf 'synthetic package\n' >"$drivers/readme.txt"
}

case "$case_name" in
arguments)
    install_program "$shipped"
    for args in "x" "" "--help" "a b"; do
        run "$program" "$args"
        expect_failure_line "argument '$args'" "driver setup takes no arguments"
    done
    run "$program" "" ""
    expect_failure_line "two empty arguments" "driver setup takes no arguments"
    ;;
missing_folder)
    install_program "$shipped"
    run "$program"
    expect_failure_line "no driver folder" "missing bundled driver file VBCABLE_ControlPanel.exe"
    ;;
shipped_folder_with_wrong_files)
    install_program "$shipped"
    mkdir -p "$drivers/VBCABLE_ControlPanel.exe"
    run "$program"
    expect_failure_line "a folder in the first file's place" \
        "missing bundled driver file VBCABLE_ControlPanel.exe"
    rmdir "$drivers/VBCABLE_ControlPanel.exe"
    printf 'not the vendor file' >"$drivers/VBCABLE_ControlPanel.exe"
    run "$program"
    expect_failure_line "a wrong first file" \
        "bundled driver integrity check failed: VBCABLE_ControlPanel.exe"
    ;;
synthetic_pass)
    install_program "$synthetic"
    write_synthetic_package
    printf 'extra' >"$drivers/unlisted.sys"
    mkdir -p "$drivers/sub"
    printf 'other' >"$drivers/sub/beta.sys"
    run "$program"
    # Past the integrity check the run must still fail: detection is not built yet.
    expect_failure_line "intact package" "cable detection is not available in this build yet"
    ;;
synthetic_wrong_file)
    install_program "$synthetic"
    write_synthetic_package
    printf 'synthetic driver bytez\n' >"$drivers/beta.sys"
    run "$program"
    expect_failure_line "one changed byte" "bundled driver integrity check failed: beta.sys"
    : >"$drivers/beta.sys"
    run "$program"
    expect_failure_line "emptied file" "bundled driver integrity check failed: beta.sys"
    write_synthetic_package
    rm "$drivers/readme.txt" "$drivers/Alpha.inf"
    run "$program"
    expect_failure_line "two missing files" "missing bundled driver file Alpha.inf"
    write_synthetic_package
    rm "$drivers/empty.cat"
    mkfifo "$drivers/empty.cat"
    run timeout 20 "$program"
    expect_failure_line "a FIFO in a file's place" "missing bundled driver file empty.cat"
    ;;
no_standard_error)
    install_program "$shipped"
    status=0
    "$program" x </dev/null >"$out" 2>&- || status=$?
    check "closed standard error: exit status 1 (got $status)" test "$status" -eq 1
    check "closed standard error: nothing on standard output" test ! -s "$out"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
finish
