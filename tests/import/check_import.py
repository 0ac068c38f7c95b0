#!/usr/bin/env python3
"""Runs pitchime-import on a case of a table and checks what the board
plays for the score (pitchime-render's MIDI file of it) against the MIDI
file imported, both as midicsv lists them: every note the importer plays,
moves or drops, its onset, the tune's length, the top line.

  check_import.py IMPORT RENDER CASES NAME CSVMIDI MIDICSV [ABC2MIDI]

A case is a [name] line, then lines of the MIDI file (tpq N, tempo TICK US,
note TRACK CHANNEL KEY START END VELOCITY, control TRACK CHANNEL TICK NUMBER
VALUE, raw BYTES-IN-HEX, or abc FILE), `run OPTIONS`, `in`/`out PATH` (given
instead of the file made/the output, named IN.mid/OUT.txt in lines) and
expectations: status N, line TEXT (a line of standard error), bpm N, voices
N, kept-track N (its notes all start at their time), and the properties
all-kept, top-kept, onset MS, length PERCENT, cut-short (the file is, so
only the lines are checked). Every note not played must be reported on its
own line in any case (one started late is played later, while its key is
down), and the score written must draw no warning from its player."""
import os
import re
import shlex
import subprocess
import sys
import tempfile

NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]


def read_cases(path):
    cases, case = [], None
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if not line.strip() or line.startswith("#"):
            continue
        if line.startswith("["):
            case = {"name": line.strip("[]"), "midi": [], "run": [], "expect": []}
            cases.append(case)
        else:
            word, _, rest = line.partition(" ")
            key = word if word == "run" else "midi" if word in ("tpq", "tempo", "note", "control", "raw", "abc") else "expect"
            case[key].append((word, rest) if key != "run" else rest)
    return cases


def make_midi(case, folder, tools, out):
    lines = case["midi"]
    if lines[0][0] == "raw":
        open(out, "wb").write(bytes.fromhex("".join(rest for _, rest in lines)))
        return
    if lines[0][0] == "abc":
        subprocess.run([tools["abc2midi"], os.path.join(folder, lines[0][1]), "-o", out], check=True,
                       capture_output=True)
        return
    tpq, tracks = 480, {}
    for word, rest in lines:
        v = rest.split()
        if word == "tpq":
            tpq = int(v[0])
        elif word == "tempo":
            tracks.setdefault(0, []).append((int(v[0]), 0, f"Tempo, {v[1]}"))
        elif word == "note":
            t, c, k, s, e, vel = map(int, v)
            tracks.setdefault(t, []).append((s, 2, f"Note_on_c, {c}, {k}, {vel}"))
            tracks.setdefault(t, []).append((e, 1, f"Note_off_c, {c}, {k}, 0"))
        elif word == "control":
            t, c, tick, n, val = map(int, v)
            tracks.setdefault(t, []).append((tick, 0, f"Control_c, {c}, {n}, {val}"))
    count = max(tracks) + 1
    csv = [f"0, 0, Header, 1, {count}, {tpq}"]
    for t in range(count):
        events = sorted(tracks.get(t, []))
        csv.append(f"{t + 1}, 0, Start_track")
        csv += [f"{t + 1}, {tick}, {text}" for tick, _, text in events]
        csv.append(f"{t + 1}, {events[-1][0] if events else 0}, End_track")
    csv.append("0, 0, End_of_file")
    subprocess.run([tools["csvmidi"], "-", out], input="\n".join(csv) + "\n", text=True, check=True)


def listed_notes(midi, tools):
    """The notes of the file as midicsv lists it, in milliseconds."""
    rows = [[f.strip() for f in line.split(",")] for line in
            subprocess.run([tools["midicsv"], midi], capture_output=True, text=True, check=True).stdout.splitlines()]
    tpq = int(next(r for r in rows if r[2] == "Header")[5])
    tempos = sorted((int(r[1]), int(r[3])) for r in rows if r[2] == "Tempo")
    map_ = [(0, 0.0, 500000)]
    for tick, us in tempos:
        t0, ms0, us0 = map_[-1]
        map_.append((tick, ms0 + (tick - t0) * us0 / tpq / 1000, us))

    def ms(tick):
        t0, ms0, us0 = [m for m in map_ if m[0] <= tick][-1]
        return ms0 + (tick - t0) * us0 / tpq / 1000

    notes, open_ = [], {}
    for r in sorted((r for r in rows if r[2] in ("Note_on_c", "Note_off_c")),
                    key=lambda r: (int(r[0]), int(r[1]))):
        track, tick, ch, key, vel = int(r[0]) - 1, int(r[1]), int(r[3]), int(r[4]), int(r[5])
        if r[2] == "Note_on_c" and vel > 0:
            open_.setdefault((track, ch, key), []).append((tick, vel))
        elif open_.get((track, ch, key)):
            start, vel = open_[(track, ch, key)].pop(0)
            notes.append({"track": track, "channel": ch, "key": key, "start": ms(start), "end": ms(tick)})
    return sorted(notes, key=lambda n: (n["start"], -n["key"]))


def played_notes(score, trill, tools):
    """What the board plays for a score, as pitchime-render's MIDI file of
    it lists it: (key, onset ms) and the end of the last note. The
    trill player's pitches take turns by sixty-fourths, so there a
    pitch starts in the first cycle of two in which it sounds after one in
    which it did not; key 14 there is its rest (note 0)."""
    bpm, part = (int(v) for v in open(score).read().split("\n")[:2])
    rendered = score + ".mid"
    subprocess.run([tools["render"], *(["--trill"] if trill else []), score, rendered], check=True,
                   capture_output=True)
    notes = [n for n in listed_notes(rendered, tools) if not (trill and n["key"] == 14)]
    length = max(n["end"] for n in notes)
    if not trill:
        return [(n["key"], n["start"]) for n in notes], length, bpm, part
    cycle, sounding = 2 * (60000 // (16 * bpm)), {}
    for n in notes:
        for c in range(round(n["start"]) // cycle, -(-round(n["end"]) // cycle)):
            sounding.setdefault(c, set()).add(n["key"])
    starts = [(key, c * cycle) for c in sounding for key in sounding[c] - sounding.get(c - 1, set())]
    return starts, length, bpm, part


def into_range(key, shift):
    key += shift
    while key < 14:
        key += 12
    while key > 127:
        key -= 12
    return key


def check(case, folder, tools, work):
    midi, out = os.path.join(work, case["name"] + ".mid"), os.path.join(work, case["name"] + ".txt")
    make_midi(case, folder, tools, midi)
    options = shlex.split(case["run"][0]) if case["run"] else []
    expect = dict((w, r) for w, r in case["expect"] if w != "line")
    given = [os.path.join(work, expect[w]) if w in expect else path for w, path in (("in", midi), ("out", out))]
    run = subprocess.run([tools["import"], *options, *given], capture_output=True, text=True)
    problems = []
    if run.returncode != int(expect.get("status", 0)):
        problems.append(f"exit status {run.returncode}: {run.stderr}")
    errors = run.stderr.replace(given[0], "IN.mid").replace(given[1], "OUT.txt").splitlines()
    problems += [f"no line '{r}' in:\n{run.stderr}" for w, r in case["expect"] if w == "line" and r not in errors]
    if run.returncode != 0 or "cut-short" in expect:  # midicsv reads past the end of a file cut short
        if run.returncode != 0 and os.path.exists(out):
            problems.append("an output file was written")
        return problems

    trill = "--trill" in options
    check = subprocess.run([tools["render"], "--check", *(["--trill"] if trill else []), out],
                           capture_output=True, text=True)
    if check.stdout or check.returncode != 0:  # a score it writes plays without a warning
        problems.append(f"the player warns: {check.stdout}")
    transpose = dict(zip(options, options[1:])).get("--transpose", "0")
    if transpose == "auto":  # the shift chosen, as the summary tells it
        transpose = re.search(r"; transposed ([-+]\d+);", run.stderr + "; transposed +0;").group(1)
    shift = int(transpose)
    played, length, bpm, part = played_notes(out, trill, tools)
    for word in ("bpm", "voices"):
        if word in expect and int(expect[word]) != (bpm if word == "bpm" else part):
            problems.append(f"{word} {bpm if word == 'bpm' else part}, expected {expect[word]}")
    chosen = {"--tracks": "1-65535", "--channels": "1-9,11-16"}
    for i, word in enumerate(options[:-1]):
        if word in chosen:
            chosen[word] = options[i + 1]
    picked = {w: {n for part in chosen[w].split(",") for n in
                  range(int(part.split("-")[0]), int(part.split("-")[-1]) + 1)} for w in chosen}
    notes = [n for n in listed_notes(midi, tools)
             if n["track"] + 1 in picked["--tracks"] and n["channel"] + 1 in picked["--channels"] - {10}]
    free = sorted(played, key=lambda p: p[1])
    worst, unmatched = 0.0, []
    for n in notes:
        pitch = into_range(n["key"], shift)
        near = [p for p in free if p[0] == pitch and abs(p[1] - n["start"]) <= 60]
        if not near:
            unmatched.append(n)
            continue
        best = min(near, key=lambda p: abs(p[1] - n["start"]))
        free.remove(best)
        worst = max(worst, abs(best[1] - n["start"]))
        n["kept"] = True
    for n in unmatched[:]:
        head = f"track {n['track'] + 1} channel {n['channel'] + 1} note {NAMES[n['key'] % 12]}{n['key'] // 12 - 1} ({n['key']}):"
        late = [p for p in free if p[0] == into_range(n["key"], shift) and n["start"] < p[1] < n["end"]]
        if late and any(head in line and " late, " in line for line in errors):
            free.remove(late[0])  # started late, where a voice freed
        elif not any(head in line and ("dropped" in line or "merged" in line) for line in errors):
            problems.append(f"not played and not reported: {n}")
    if free and "--drums" not in options:  # played, so the file must have it
        problems.append(f"{len(free)} notes played that the file does not have, first {free[0]}")
    if "kept-track" in expect and any(n["track"] + 1 == int(expect["kept-track"]) for n in unmatched):
        problems.append(f"a note of track {expect['kept-track']} not played at its time")
    if "all-kept" in expect and unmatched:
        problems.append(f"{len(unmatched)} notes not played, first {unmatched[0]}")
    if "top-kept" in expect:
        for n in notes:
            if all(m["key"] <= n["key"] for m in notes if m["start"] <= n["start"] < m["end"]) and "kept" not in n:
                problems.append(f"top-line note not played: {n}")
    if "onset" in expect and worst > float(expect["onset"]):
        problems.append(f"onset error {worst:.2f} ms, more than {expect['onset']}")
    end = max(n["end"] for n in notes)
    if "length" in expect and abs(length - end) > end * float(expect["length"]) / 100:
        problems.append(f"length {length} ms, the file's {end:.1f} ms")
    return problems


def main():
    tools = dict(zip(["import", "render", "cases", "name", "csvmidi", "midicsv", "abc2midi"], sys.argv[1:]))
    folder = os.path.dirname(os.path.abspath(tools["cases"]))
    problems = ["no such case"]
    with tempfile.TemporaryDirectory() as work:
        for case in read_cases(tools["cases"]):
            if case["name"] == tools["name"]:
                problems = check(case, folder, tools, work)
    print(("FAILED " if problems else "ok     ") + tools["name"])
    for p in problems:
        print("    " + p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
