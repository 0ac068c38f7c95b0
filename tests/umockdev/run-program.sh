#!/bin/sh
# Runs one of the programs and compares what it printed, and what reached the
# emulated board, with the expected files in EXPECTED-DIR:
#   NAME.out        standard output; measured times compared by label only
#   NAME.transfers  the emulator's transfer log ('#' lines are notes), if present
#   NAME.err        lines standard error must contain; without it, it must be empty
# The program must end with status 0.
# Usage: run-program.sh NAME EXPECTED-DIR WORK-DIR COMMAND [ARGS...]
set -u
want=$2/$1 got=$3/$1
shift 3
mkdir -p "${got%/*}"
failed=0
fail() { echo "$*"; failed=1; }
"$@" </dev/null >"$got.out" 2>"$got.err" || fail "exit status $?, want 0"
sed -E -e 's/^(REAL:\t)[0-9]+$/\1#/' -e 's/^(Quarter Note length\t:\t)[0-9]+ms$/\1#ms/' \
    -e 's/^(Measurement BPM\t\t:\t).+$/\1#/' "$got.out" | diff -u "$want.out" - ||
    fail "standard output differs (- expected, + printed)"
if [ -f "$want.transfers" ]; then
    grep -v '^#' "$want.transfers" | diff -u - "$got.transfers" || fail "transfers to the board differ (- expected, + sent)"
fi
if [ -f "$want.err" ]; then
    grep -v '^$' "$want.err" | while IFS= read -r line; do
        grep -qF -- "$line" "$got.err" || { echo "standard error lacks: $line"; exit 1; }
    done || failed=1
elif [ -s "$got.err" ]; then
    fail "unexpected standard error: $(cat "$got.err")"
fi
exit $failed
