#!/usr/bin/env python3
# Checks what midi_dump prints of MIDI files.
#
# check_reader.py DUMP cases FILE NAME
#   Checks the case NAME of FILE. A case is a name line `case NAME`, the
#   file's bytes (`header` and `track` lines: hex of an MThd or MTrk chunk's
#   contents, the chunk length added; `bytes`: raw hex; `riff`: wraps the
#   bytes so far in a RIFF RMID file), then the lines midi_dump must print.
#   `#` starts a comment; an indented line goes on with the line before.
# check_reader.py DUMP oracle DIR ABC2MIDI MIDICSV CSVMIDI TUNE
#   Makes a MIDI file of TUNE in DIR, an .abc tune (abc2midi) or .csv listing
#   (csvmidi), and compares midi_dump's notes and tempos with midicsv's
#   listing of it, paired here as a keyboard plays.
import subprocess, sys, tempfile
from fractions import Fraction


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout.splitlines()


def check(name, got, want):
    if got != want:
        print(f"{name}: midi_dump printed\n  " + "\n  ".join(got) + "\nexpected\n  " + "\n  ".join(want))
    return got != want


def cases(work, dump, path, only):
    lines = []
    for line in open(path, encoding="utf-8"):
        words = line.split("#")[0].split()
        if words and line[0].isspace():
            lines[-1] += words
        elif words:
            lines.append(words)
    lines.append(["case"])
    name, data, want, failed = None, b"", [], True
    for kind, *rest in lines:
        if kind == "case":
            if name == only:
                open(work + "/case.mid", "wb").write(data)
                failed = check(name, run(dump, work + "/case.mid"), want)
            name, data, want = " ".join(rest), b"", []
        elif kind in ("header", "track", "bytes"):
            body = bytes.fromhex("".join(rest))
            data += body if kind == "bytes" else (b"MThd" if kind == "header" else b"MTrk") + len(body).to_bytes(4, "big") + body
        elif kind == "riff":
            le = lambda tag, b: tag + len(b).to_bytes(4, "little") + b
            data = le(b"RIFF", b"RMID" + le(b"data", data) + b"\0" * (len(data) % 2))
        else:
            want.append(" ".join([kind] + rest))
    return failed


def oracle(work, dump, folder, abc2midi, midicsv, csvmidi, tune):
    midi = f"{work}/{tune}.mid"
    run(*([abc2midi, f"{folder}/{tune}", "-o", midi] if tune.endswith(".abc") else [csvmidi, f"{folder}/{tune}", midi]))
    rows = [[int(w) if w.strip().lstrip("-").isdigit() else w.strip() for w in row.split(",")] for row in run(midicsv, midi)]
    ends = {r[0] - 1: r[1] for r in rows if r[2] == "End_track"}
    # A key sounds once per channel, its events merged across tracks: a
    # strike ends the note sounding, two at one tick are one, an off at
    # a strike's tick is the struck note's; a track's notes end with it.
    notes, latest, owed = [], {}, set()
    for tick, track, _, r in sorted((r[1], r[0] - 1, i, r) for i, r in enumerate(rows) if r[2] in ("Note_on_c", "Note_off_c")):
        key, on, n = (r[3], r[4]), r[2] == "Note_on_c" and r[5] > 0, latest.get((r[3], r[4]))
        sounds = n is not None and n[4] is None and ends[n[0]] >= tick
        if on and n and n[3] == tick:
            n[4] = None
        elif on:
            owed.discard(key)
            if sounds:
                n[4] = tick
                owed.add(key)
            latest[key] = [track, r[3], r[4], tick, None, r[5]]
            notes.append(latest[key])
        elif sounds and key in owed and n[3] == tick:
            owed.discard(key)
        elif sounds:
            n[4] = tick
    want = sorted(f"note {n[3]}-{ends[n[0]] if n[4] is None else n[4]} {n[0]} {n[1]} {n[2]} {n[5]}" for n in notes)
    at, last, division = Fraction(0), (0, 500000), next(r[5] for r in rows if r[2] == "Header")
    for tick, tempo in sorted(((r[1], r[3]) for r in rows if r[2] == "Tempo"), key=lambda t: t[0]):
        at += Fraction((tick - last[0]) * last[1], division)
        want.append(f"tempo {tick} {tempo} at {int(at)}")
        last = (tick, tempo)
    got = run(dump, midi)
    return check(tune, sorted(g for g in got if g.startswith("note")) + [g for g in got if g.startswith("tempo")], want)


with tempfile.TemporaryDirectory() as work:
    sys.exit(1 if {"cases": cases, "oracle": oracle}[sys.argv[2]](work, sys.argv[1], *sys.argv[3:]) else 0)
