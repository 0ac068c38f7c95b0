#!/bin/sh
# pitchime-render's outputs checked by other programs, and its command line:
# one row of outputs.txt or of refusals.txt (tests/CMakeLists.txt reads them).
#   check.sh PITCHIME-RENDER DATA-DIR WORK-DIR output NAME FLAGS
# renders the score NAME.txt to a MIDI file, whose notes midicsv reads back,
# and to a piano roll, which must be NAME.svg as drawn before and which
# rsvg-convert must turn into a PNG; OUT - must write the same WAV as a file.
#   check.sh PITCHIME-RENDER DATA-DIR WORK-DIR refusal STATUS ARGUMENTS FIRST-LINE
# runs one command line of refusals.txt.
set -u
render=$1 data=$2 work=$3 kind=$4
shift 4
rm -rf "$work" && mkdir -p "$work/r/dir.wav" "$work/r/dir.svg" || exit 1
failed=0
fail() { echo "FAIL: $*"; failed=1; }

if [ "$kind" = output ]; then
    name=$1 flags=$2
    [ "$flags" = - ] && flags=
    out=$work/$name
    "$render" $flags "$data/$name.txt" "$out.mid" >/dev/null || fail "$name.mid"
    "$render" $flags "$data/$name.txt" "$out.svg" >/dev/null || fail "$name.svg"
    midicsv "$out.mid" | awk -F', *' '
        $3 == "Header" { division = $6 }
        $3 == "Tempo" { tempo = $4 }
        $3 == "Title_t" { gsub(/"/, "", $4); sub(/counter /, "", $4); track[$1] = $4 }
        function ms(tick) { return int(tick * tempo / division / 1000 + 0.5) }
        $3 == "Note_on_c" && $6 > 0 { start[$1 " " $5] = $2; next }
        $3 == "Note_off_c" || $3 == "Note_on_c" { print track[$1], ms(start[$1 " " $5]), ms($2), $5 }
    ' | sort -k2,2n -k1,1n | diff -u "$data/$name.notes" - || fail "$name.mid notes"
    rsvg-convert "$out.svg" -o "$out.png" || fail "$name.svg does not convert"
    cmp -s "$data/$name.svg" "$out.svg" || fail "$name.svg is not as drawn before"
    "$render" --trace $flags "$data/$name.txt" - >"$out-stdout.wav" 2>/dev/null || fail "$name to -"
    "$render" $flags "$data/$name.txt" "$out.wav" >/dev/null || fail "$name.wav"
    cmp "$out.wav" "$out-stdout.wav" || fail "$name: - writes another WAV"
    exit $failed
fi

# @ in the arguments and the line is a directory holding good.txt, good.svg
# and the directories dir.wav and dir.svg; nothing new may appear in it.
r=$work/r/
status=$1 args=$2 first=$(echo "$3" | sed "s|@|$r|g")
printf '120\n1\n69,4\n' >"${r}good.txt" && cp "${r}good.txt" "${r}good.svg"
before=$(ls -A "$r")
eval "set -- $(echo "$args" | sed "s|@|$r|g")"
"$render" "$@" >"$work/stdout" 2>"$work/stderr"
got=$?
if [ "$status" = 0 ]; then shown=$(head -n 1 "$work/stdout"); else shown=$(head -n 1 "$work/stderr"); fi
[ "$got" = "$status" ] && [ "$shown" = "$first" ] || fail "$args: status $got, '$shown'"
[ "$status" = 0 ] || [ ! -s "$work/stdout" ] || fail "$args: wrote to standard output"
[ "$(ls -A "$r")" = "$before" ] || fail "$args: left $(ls -A "$r")"
exit $failed
