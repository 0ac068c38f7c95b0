#!/bin/sh
# Runs one of the programs and compares what it printed, and what reached the
# emulated board, with the expected files in EXPECTED-DIR:
#   NAME.out        standard output; measured times compared by label only
#   NAME.transfers  the emulator's transfer log ('#' lines are notes), if present
#   NAME.err        lines standard error must contain; without it, it must be empty
# The program must end with status 0.
# Usage: run-program.sh NAME EXPECTED-DIR WORK-DIR COMMAND [ARGS...]
set -u
name=$1
expected=$2
work=$3
shift 3
mkdir -p "$work"
out="$work/$name.out"
err="$work/$name.err"
"$@" </dev/null >"$out" 2>"$err"
status=$?
failed=0
if [ "$status" -ne 0 ]; then
    echo "exit status $status, want 0"
    failed=1
fi
sed -E -e 's/^(REAL:\t)[0-9]+$/\1#/' \
    -e 's/^(Quarter Note length\t:\t)[0-9]+ms$/\1#ms/' \
    -e 's/^(Measurement BPM\t\t:\t).+$/\1#/' "$out" >"$out.normalized"
if ! diff -u "$expected/$name.out" "$out.normalized"; then
    echo "standard output differs (- expected, + printed)"
    failed=1
fi
if [ -f "$expected/$name.transfers" ]; then
    grep -v '^#' "$expected/$name.transfers" >"$work/$name.transfers.expected"
    if ! diff -u "$work/$name.transfers.expected" "$work/$name.transfers"; then
        echo "transfers to the board differ (- expected, + sent)"
        failed=1
    fi
fi
if [ -f "$expected/$name.err" ]; then
    while IFS= read -r line; do
        if [ -n "$line" ] && ! grep -qF -- "$line" "$err"; then
            echo "standard error lacks: $line"
            failed=1
        fi
    done <"$expected/$name.err"
elif [ -s "$err" ]; then
    echo "unexpected standard error:"
    cat "$err"
    failed=1
fi
exit $failed
