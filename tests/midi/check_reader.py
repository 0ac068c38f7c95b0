#!/usr/bin/env python3
# Checks what midi_dump prints of MIDI files.
#
# check_reader.py DUMP cases FILE
#   Each case of FILE is a name line `case ...`, the file's bytes (`header`
#   and `track` lines: hex of an MThd or MTrk chunk's contents, the chunk
#   length added; `bytes`: raw hex; `riff`: wraps the bytes so far in a RIFF
#   RMID file), then the lines midi_dump must print. `#` starts a comment; an
#   indented line goes on with the line before.
# check_reader.py DUMP oracle DIR ABC2MIDI MIDICSV CSVMIDI
#   Makes a MIDI file of each .abc tune (abc2midi) and .csv listing (csvmidi)
#   in DIR, and compares midi_dump's notes and tempos with midicsv's listing
#   of it, paired here: a note-off ends the oldest sounding note of its key.
import os, subprocess, sys, tempfile
from fractions import Fraction


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout.splitlines()


def check(name, got, want):
    if got != want:
        print(f"{name}: midi_dump printed\n  " + "\n  ".join(got) + "\nexpected\n  " + "\n  ".join(want))
    return got != want


def cases(dump, path, work):
    lines, failed = [], 0
    for line in open(path, encoding="utf-8"):
        words = line.split("#")[0].split()
        if words and line[0].isspace():
            lines[-1] += words
        elif words:
            lines.append(words)
    lines.append(["case"])
    name, data, want = None, b"", []
    for kind, *rest in lines:
        if kind == "case":
            if name:
                open(work + "/case.mid", "wb").write(data)
                failed += check(name, run(dump, work + "/case.mid"), want)
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


def oracle(dump, folder, abc2midi, midicsv, csvmidi, work):
    failed = 0
    for tune in sorted(t for t in os.listdir(folder) if t.endswith((".abc", ".csv"))):
        midi = f"{work}/{tune}.mid"
        run(*([abc2midi, f"{folder}/{tune}", "-o", midi] if tune.endswith(".abc") else [csvmidi, f"{folder}/{tune}", midi]))
        notes, sounding, tempos, at = [], {}, [], Fraction(0)
        for r in ([w.strip() for w in row.split(",")] for row in run(midicsv, midi)):
            track, tick, kind = int(r[0]) - 1, int(r[1]), r[2]
            if kind == "Header":
                division, last = int(r[5]), (0, 500000)
            elif kind == "Tempo":
                tempos.append((tick, int(r[3])))
            elif kind in ("Note_on_c", "Note_off_c"):
                key = (track, int(r[3]), int(r[4]))
                if kind == "Note_on_c" and int(r[5]) > 0:
                    sounding.setdefault(key, []).append((tick, int(r[5])))
                elif sounding.get(key):
                    notes.append((key, sounding[key].pop(0), tick))
            elif kind == "End_track":
                notes += [(k, n, tick) for k, ns in sounding.items() if k[0] == track for n in ns]
        want = sorted(f"note {n[0]}-{end} {k[0]} {k[1]} {k[2]} {n[1]}" for k, n, end in notes)
        for tick, tempo in sorted(tempos, key=lambda t: t[0]):
            at += Fraction((tick - last[0]) * last[1], division)
            want.append(f"tempo {tick} {tempo} at {int(at)}")
            last = (tick, tempo)
        got = run(dump, midi)
        failed += check(tune, sorted(g for g in got if g.startswith("note")) + [g for g in got if g.startswith("tempo")], want)
    return failed


with tempfile.TemporaryDirectory() as work:
    sys.exit(1 if {"cases": cases, "oracle": oracle}[sys.argv[2]](sys.argv[1], *sys.argv[3:], work) else 0)
