#!/usr/bin/env python3
"""Checks what midi_dump prints of MIDI files.

check_reader.py DUMP cases FILE
    Each case of FILE is a name line `case ...`, the file's bytes (`header`
    and `track` lines: hex of an MThd or MTrk chunk's contents, the chunk
    length added; `bytes`: raw hex; `riff`: wraps the bytes so far in a RIFF
    RMID file), then the lines midi_dump must print. `#` starts a comment.
check_reader.py DUMP oracle DIR ABC2MIDI MIDICSV CSVMIDI
    Makes a MIDI file of each .abc tune (abc2midi) and .csv listing (csvmidi)
    in DIR and compares midi_dump's notes and tempos with those of midicsv's
    listing of it, paired here: a note-off (or note-on of velocity 0) ends
    the oldest sounding note of its key.
"""
import os
import subprocess
import sys
import tempfile
from fractions import Fraction


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout.splitlines()


def check(name, got, want):
    if got == want:
        return 0
    print(f"{name}: midi_dump printed\n  " + "\n  ".join(got) + "\nexpected\n  " + "\n  ".join(want))
    return 1


def cases(dump, path, work):
    failed, blocks, lines = 0, [], []
    for line in open(path, encoding="utf-8"):
        words = line.split("#")[0].split()
        if words and line[0].isspace():
            lines[-1] += words  # an indented line goes on with the one before
        elif words:
            lines.append(words)
    for words in lines:
        kind = words[0]
        if kind == "case":
            blocks.append([" ".join(words[1:]), b"", []])
            continue
        block = blocks[-1]
        if kind in ("header", "track", "bytes"):
            data = bytes.fromhex("".join(words[1:]))
            block[1] += {"header": b"MThd", "track": b"MTrk"}.get(kind, b"")
            block[1] += b"" if kind == "bytes" else len(data).to_bytes(4, "big")
            block[1] += data
        elif kind == "riff":
            le = lambda tag, b: tag + len(b).to_bytes(4, "little") + b
            block[1] = le(b"RIFF", b"RMID" + le(b"data", block[1]) + b"\0" * (len(block[1]) % 2))
        else:
            block[2].append(" ".join(words))
    for name, data, want in blocks:
        with open(work + "/case.mid", "wb") as f:
            f.write(data)
        failed += check(name, run(dump, work + "/case.mid"), want)
    return failed


def oracle(dump, folder, abc2midi, midicsv, csvmidi, work):
    failed = 0
    for tune in sorted(t for t in os.listdir(folder) if t.endswith((".abc", ".csv"))):
        midi = f"{work}/{tune}.mid"
        if tune.endswith(".abc"):
            run(abc2midi, f"{folder}/{tune}", "-o", midi)
        else:
            run(csvmidi, f"{folder}/{tune}", midi)
        rows = [[w.strip() for w in row.split(",")] for row in run(midicsv, midi)]
        division = int(next(r[5] for r in rows if r[2] == "Header"))
        notes, sounding, tempos = [], {}, []
        for r in rows:
            track, tick, kind = int(r[0]) - 1, int(r[1]), r[2]
            if kind in ("Note_on_c", "Note_off_c"):
                key = (track, int(r[3]), int(r[4]))
                if kind == "Note_on_c" and int(r[5]) > 0:
                    sounding.setdefault(key, []).append([tick, None, int(r[5])])
                elif sounding.get(key):
                    sounding[key][0][1] = tick
                    notes.append((key, sounding[key].pop(0)))
            elif kind == "End_track":
                notes += [(k, [n[0], tick, n[2]]) for k, ns in sounding.items() if k[0] == track for n in ns]
            elif kind == "Tempo":
                tempos.append((tick, int(r[3])))
        want = [f"note {n[0]}-{n[1]} {k[0]} {k[1]} {k[2]} {n[2]}" for k, n in notes]
        at, last, us = Fraction(0), (0, 500000), []
        for tick, tempo in sorted(tempos, key=lambda t: t[0]):
            at += Fraction((tick - last[0]) * last[1], division)
            us.append(f"tempo {tick} {tempo} at {int(at)}")
            last = (tick, tempo)
        got = run(dump, midi)
        failed += check(tune, sorted(g for g in got if g.startswith("note")), sorted(want))
        failed += check(tune, [g for g in got if g.startswith("tempo")], us)
    return failed


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as work:
        mode = {"cases": cases, "oracle": oracle}[sys.argv[2]]
        sys.exit(1 if mode(sys.argv[1], *sys.argv[3:], work) else 0)
