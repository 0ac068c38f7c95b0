#!/bin/sh
# Prepares and ends the wine prefix in which the end-to-end tests run the
# Windows programs.
#   wine_prefix.sh start WINE WINESERVER PREFIX PROGRAMS
#     checks that PROGRAMS holds both .exe files and the stand-in
#     FTD2XX.dll, starts a wineserver that stays up between the tests, and
#     creates the prefix if needed. Creating it takes seconds and makes wine
#     report on standard error, so it happens here, before any test.
#   wine_prefix.sh stop WINE WINESERVER PREFIX
#     ends that wineserver and every process of the prefix.
set -eu
action=$1
wine=$2
wineserver=$3
prefix=$4
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case $action in
start)
    programs=$5
    for file in pitchime.exe pitchime-trill.exe FTD2XX.dll; do
        if [ ! -f "$programs/$file" ]; then
            echo "$programs/$file is missing: build the Windows programs first (cmake --workflow --preset mingw)" >&2
            exit 1
        fi
    done
    mkdir -p "$prefix"
    # The server and wine's services outlive this script; started with
    # their output elsewhere, they hold no pipe that a test runner reads to
    # its end. Once up, later programs start in a fraction of a second and
    # start no services of their own. The server ends ten minutes after
    # its last program, or at stop; one still up from an earlier run is
    # kept (the server then refuses to start a second one).
    "$wineserver" -p600 </dev/null >/dev/null 2>&1 || true
    if ! "$wine" wineboot --init </dev/null >"$prefix.log" 2>&1; then
        cat "$prefix.log" >&2
        exit 1
    fi
    ;;
stop)
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 start|stop WINE WINESERVER PREFIX [PROGRAMS]" >&2
    exit 2
    ;;
esac
