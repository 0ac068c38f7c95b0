#!/bin/sh
# pitchime-live end to end over JACK: a JACK server of this test's own on
# the dummy driver, pitchime-live offering its port on it, and jack_send
# sending the messages of CASES to that port at once; what pitchime-live
# played of each must be what CASES says, and Ctrl+C must end it; then the
# same with pitchime-live connected to the sender (--port), which must end
# by itself once the sender has gone. Skipped,
# with one line, where jackd is not installed.
#   jack_check.sh PITCHIME-LIVE SEND CASES WORKDIR SERVER
# SERVER is the JACK server's name, one per test and the same at every run:
# JACK keeps at most 8 servers in its registry and frees a dead server's
# entry only for a new server of the same name, so a run killed before it
# could stop its server leaves an entry that the next run takes back.
set -u
live=$1 send=$2 cases=$3 work=$4 server=$5
if ! command -v jackd > /dev/null 2>&1; then
    echo "jackd not found: the JACK test is skipped (Debian package jackd2)"
    exit 77
fi
# A server that a killed run of this test left running is this test's to stop.
if [ -f "$work/jackd.pid" ]; then
    stale=$(cat "$work/jackd.pid")
    if [ "$(cat "/proc/$stale/comm" 2> /dev/null)" = jackd ]; then
        kill "$stale" 2> /dev/null
        sleep 1
    fi
fi
rm -rf "$work" && mkdir -p "$work" && mkfifo "$work/hold" && : > "$work/out" || exit 1
# A server no other JACK client sees; every client below inherits the name.
JACK_DEFAULT_SERVER=$server
export JACK_DEFAULT_SERVER
jackd= listener= sender= held=
# Asks PIDS to end and waits for them; what has not ended 5 s later is killed.
stop() {
    [ -n "$(echo "$@")" ] || return 0
    kill "$@" 2> /dev/null
    (sleep 5 && kill -9 "$@" 2> /dev/null) &
    watchdog=$!
    wait "$@"
    kill $watchdog 2> /dev/null
}
# Stops what this test started on every way out, the clients first and the
# server last, so that the server leaves JACK's registry as it should.
finish() {
    [ -n "$held" ] && exec 3>&-
    stop $sender $listener
    stop $jackd && rm -f "$work/jackd.pid"
}
trap finish EXIT
trap "exit 1" HUP INT TERM
fail() {
    echo "$1"
    cat "$work/out" "$work"/*.log
    exit 1
}
# Waits, for 30 s at most, until pitchime-live has printed N lines that
# match PATTERN or one of PIDS has ended.
wait_lines() {
    pattern=$1 lines=$2
    shift 2
    tries=0
    while [ "$(grep -cE "$pattern" "$work/out")" -lt "$lines" ] && kill -0 "$@" 2> /dev/null && [ $tries -lt 600 ]; do
        tries=$((tries + 1))
        sleep 0.05
    done
    [ "$(grep -cE "$pattern" "$work/out")" -ge "$lines" ]
}
played='^ *[0-9]+\.[0-9]{3}  '

# Synchronous, with a long client timeout: on a loaded machine a late client
# delays a cycle rather than being dropped from the graph.
jackd --sync --timeout 10000 --no-realtime -d dummy -r 48000 -p 256 > "$work/jackd.log" 2>&1 &
jackd=$!
echo "$jackd" > "$work/jackd.pid"
jack_wait --wait --timeout 30 > /dev/null 2>&1 || fail "the JACK server did not start"
messages=$(awk '!/^#/ && NF {
    m = ""
    for (i = 1; i <= NF && $i ~ /^[0-9a-f][0-9a-f]$/; ++i) m = m (m == "" ? "" : ",") $i
    print m
}' "$cases")
grep -v '^#' "$cases" | grep . > "$work/expected"
# Connected with --port to the sender, which waits to be connected: the
# same messages are played, and once the sender has gone pitchime-live
# says so and ends by itself, as at the end of a file. First, as
# the Ctrl+C below leaves the server a client that never closed.
"$send" - $messages < "$work/hold" 2> "$work/send.log" &
sender=$!
exec 3> "$work/hold"
held=yes
tries=0
until jack_lsp 2> /dev/null | grep -qx 'pitchime-test-sender:out'; do
    tries=$((tries + 1))
    [ $tries -lt 600 ] && kill -0 "$sender" 2> /dev/null || fail "jack_send did not offer its port"
    sleep 0.05
done
"$live" --api jack --port pitchime-test-sender > "$work/out" 2> "$work/live.log" 3>&- &
listener=$!
wait_lines "$played" "$(echo "$messages" | wc -l)" "$listener" "$sender" || fail "not every message was played from --port"
exec 3>&-
held=
status=0 && wait "$sender" || status=$?
sender=
[ $status = 0 ] || fail "jack_send failed"
wait_lines '^Closed$' 1 "$listener" || fail "pitchime-live did not end when its source had gone"
status=0 && wait "$listener" || status=$?
listener=
[ $status = 0 ] && grep -q 'pitchime-test-sender:out has gone' "$work/live.log" || fail "pitchime-live did not say its source had gone"
grep -E "$played" "$work/out" | awk '{ $1 = ""; sub(/^ /, ""); print }' | diff "$work/expected" - || fail "played otherwise from --port"
mv "$work/out" "$work/port.out"

# pitchime-live offers its port, and plays until Ctrl+C; the sender keeps
# its connection until the fifo's one writer, this shell, closes it.
PITCHIME_VBOARD_TRACE="$work/board.jsonl" "$live" --api jack > "$work/out" 2> "$work/live.log" &
listener=$!
wait_lines '^Playing what comes to port pitchime of jack' 1 "$listener" || fail "pitchime-live did not open its port"
"$send" pitchime:pitchime $messages < "$work/hold" 3>&- 2> "$work/send.log" &
sender=$!
exec 3> "$work/hold"
held=yes
wait_lines "$played" "$(echo "$messages" | wc -l)" "$listener" "$sender" || fail "not every message was played"
exec 3>&-
held=
status=0 && wait "$sender" || status=$?
sender=
[ $status = 0 ] || fail "jack_send failed"
kill -INT "$listener"
status=0 && wait "$listener" || status=$?
listener=
[ $status = 0 ] && [ "$(tail -n 1 "$work/out")" = Released ] || fail "pitchime-live did not end at Ctrl+C"
grep -E "$played" "$work/out" | awk '{ $1 = ""; sub(/^ /, ""); print }' | diff "$work/expected" - || fail "played otherwise"
# Every write reached the board and was decoded there: a control word is
# one register write, a count two.
writes=$(grep -oE '(run|stop)[0-2]|c[0-2]=' "$work/expected" | awk '{ n += /=/ ? 2 : 1 } END { print n }')
[ "$(grep -c '"reg"' "$work/board.jsonl")" = "$writes" ] && ! grep -q violation "$work/board.jsonl" ||
    fail "the board did not decode the $writes register writes sent"

