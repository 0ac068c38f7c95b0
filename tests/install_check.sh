#!/bin/sh
# Installs a build into a scratch prefix, runs each installed program once
# there (against the virtual board), and has man render each installed
# manual page, which must draw no warning.
# Usage: install_check.sh CMAKE BUILD_DIR
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$1" --install "$2" --prefix "$prefix" > /dev/null
bin=$prefix/bin
examples=$prefix/share/doc/pitchime/examples
fail() { echo "$*"; exit 1; }

"$bin/pitchime-render" --version
"$bin/pitchime-render" "$examples/ode-to-joy.txt" "$prefix/ode.wav"
# The first rows of a bundled tune for each player, and the guide's MIDI
# file live, in real time.
head -n 6 "$examples/ode-to-joy.txt" > "$prefix/pitchime.txt"
head -n 6 "$examples/minuet-in-g.txt" > "$prefix/pitchime-trill.txt"
for program in pitchime pitchime-trill; do
  echo | PITCHIME_VBOARD_AUDIO=off "$bin/$program" "$prefix/$program.txt" > "$prefix/out.txt"
  [ "$(tail -n 1 "$prefix/out.txt")" = Closed ] || fail "$program did not end with Closed"
done
PITCHIME_VBOARD_AUDIO=off "$bin/pitchime-live" --quiet "$prefix/share/doc/pitchime/docs/scores/hot-cross-buns.mid" > "$prefix/out.txt"
[ "$(tail -n 1 "$prefix/out.txt")" = Closed ] || fail "pitchime-live did not end with Closed"
if [ -e "$bin/pitchime-import" ]; then "$bin/pitchime-import" --version; fi

for program in "$bin"/*; do
  [ -e "$prefix/share/man/man1/${program##*/}.1.gz" ] || fail "no manual page for ${program##*/}"
done
command -v man > /dev/null || { echo "man is not installed: the manual pages were not rendered"; exit 0; }
for page in "$prefix"/share/man/man*/*; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done
echo "installed tree checked"
