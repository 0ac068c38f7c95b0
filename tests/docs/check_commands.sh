#!/bin/sh
# Checks the commands and scores the README and docs/ show, as docs/building.md
# says, the pages side by side. Usage: check_commands.sh SOURCE BUILD WORK
src=$1 build=$2 work=$3
rm -rf "$work" && mkdir -p "$work" || exit 1
check() {
    dir=$work/${1##*/} && mkdir -p "$dir/build" && cd "$dir" || return
    ln -s "$build" build/default && ln -s "$build" build/test && ln -s "$src/examples" "$src/docs" .
    # Each command, or for a block "text PATH" one that compares it with the file and checks that score.
    awk -v block="$dir/block" '
        /^```/ && !open { open = 1; lang = substr($1, 4); path = $2; skip = prev ~ /^<!-- not run: .+ -->$/; ++n
            if (lang !~ /^(sh|text|bat)$/ || (lang == "bat" && !skip)) print "false a " lang " block, line " NR
            next }
        /^```/ { open = 0; if (path != "") print "cmp " path " " block n " && build/default/pitchime-render --check " path; next }
        open && path != "" { print > (block n) }
        open && lang == "sh" && !skip
        { prev = $0 }' "$1" | while read -r line; do
        grep -qxF -- "$line" "$src/.ci/run" || HOME=$dir sh -ec "$line" </dev/null || echo "FAIL: $line"
    done
}
for page in "$src"/README.md "$src"/docs/*.md; do check "$page" >"$work/${page##*/}.log" 2>&1 & done
wait && ! grep -H FAIL "$work"/*.log
