#!/usr/bin/env python3
"""Measures pitchime-import on a folder of MIDI files: what a musician hears
of each file on the board, against the file itself.

  measure_import.py [--build DIR] [--manifest FILE] [--pair channel|track]
                    [--modes three,trill] [--runs N] FOLDER

Every .mid/.midi file of FOLDER is imported with the built pitchime-import,
for three voices and again with --trill; with a manifest (FOLDER/manifest.json
when there is one: a list of runs, each with "file", optional "name",
"options" for the import and "melody_tracks", 1-based) its runs instead. Each
score is rendered back to MIDI by pitchime-render, a track per counter: what
the board plays. The file and the render are both read by midicsv, not by
pitchime's own MIDI reader, so that a fault of that reader cannot hide
itself. The definitions are printed first, then a Markdown table per mode and
its summary.

Python with midicsv rather than mido: midicsv reads every file of the
corpus (mido refuses a key signature of mode 255), is fast on long files,
is what the import tests already use, and needs no Python package beyond
the standard library, whichever python3 runs it.
"""
import argparse
import bisect
import json
import os
import re
import statistics
import subprocess
import tempfile
import time

PERCUSSION = 9
ONSET_MS = 5.0  # a note is kept when the board starts its pitch this near
SAME_MS = 1.0  # notes of one key starting nearer than this are one note
DRONE_MS = 1000.0
AUDIBLE_MS = 40.0  # a kept note sounding this long (or to its key-up) is heard as a note
LOWEST, HIGHEST = 14, 127  # the board's keys; the importer moves others by octaves

DEFINITIONS = """\
Definitions (k = 3 voices, or 2 with --trill):
- Notes: the note-ons (velocity above 0) of the tracks and channels imported,
  channel 10 left out, paired as a keyboard plays: a note-on of a key that
  sounds ends the earlier note (the key is struck again), two note-ons of a
  key at one tick are one note, a note-off ends the key's note (at the tick
  of a strike, the struck note's own off), all-notes-off and all-sound-off
  end the channel's notes. A key's events pair
  {pairing}.
  Distinct notes: notes of one key starting less than 1 ms apart count once.
- Held: a note sounds to its key-up; where its channel's sustain pedal
  (controller 64 at 64 or more) is down at the key-up, on to the pedal's
  lift (64 below 64, or 121), the key's next strike, an all-notes-off or
  the end of the file, whichever comes first.
- Kept: distinct notes the board starts at their pitch (moved by octaves into
  14..127 as the importer moves them) within 5 ms of their start; a board
  onset counts for one note: where it could count for more than one (the
  same pitch within 5 ms), for a note of the melody (below) first, the
  listener hearing the melody's pitch at its time, then for the earlier
  note. Board notes: the render's notes of each pitch;
  with --trill, a pitch's stretches in the alternating counter joined across
  gaps of at most one sixty-fourth, starting where their cycle of two
  sixty-fourths starts, the rest note (key 14) left out.
- Ceiling: notes starting less than 1 ms after the one before start at one
  instant; a player with k voices starts at most k notes at an instant, so
  the ceiling is the sum over instants of min(k, notes starting then).
  kept/ceil: kept over the ceiling.
- Audible: kept notes whose board note sounds for the shorter of 40 ms and
  the time their key is down, less 5 ms (the onset tolerance): a note, not
  a click. aud/ceil: audible over the ceiling.
- First-come: the usual converters' allocation of k generators, simulated:
  in order of start (file order at one instant), a note takes a generator
  that is free at its start and holds it to its key-up; a note that finds
  none is lost. The count of notes it starts.
- Top line: distinct notes with no higher key down at their start (a note
  starting at the same instant is down); the share kept.
- Melody: where the manifest names melody tracks, their notes with no higher
  note of those tracks down at their start; the share kept.
- Drones: board notes that sound more than 1 s past the file's holding of
  their pitch (the stretch, from the board note's start, in which a note of
  that pitch is held as above, joined where they touch); the worst overrun.
- Late: notes the importer started late, where a voice freed while their key
  was down (its summary's "started late"); they are not counted as kept.
- Length: the end of the board's last note against the end of the file's last
  held note.
- At most k: files whose distinct notes never have more than k keys down at
  once: the share kept (every onset within 5 ms) and the length within 1%.
- Import: wall time of one pitchime-import run (median of {runs}), and notes a
  millisecond.
"""


def midicsv(path):
    run = subprocess.run(["midicsv", path], capture_output=True, text=True, errors="replace")
    if run.returncode != 0:
        raise ValueError(run.stderr.strip().splitlines()[-1] if run.stderr.strip() else "midicsv failed")
    return [line.split(", ") for line in run.stdout.splitlines()]


class Timeline:
    """Ticks to milliseconds through one tempo map (or an SMPTE division)."""

    def __init__(self, division, tempos):
        raw = division & 0xFFFF
        self.smpte = None
        if raw >= 0x8000:
            fps = 256 - (raw >> 8)
            self.smpte = (30000 / 1001 if fps == 29 else fps) * (raw & 0xFF)
        self.tpq = max(division, 1)
        self.ticks, self.ms, self.us = [0], [0.0], [500000]
        for tick, us in sorted(tempos, key=lambda t: t[0]):
            self.ms.append(self.at(tick))
            self.ticks.append(tick)
            self.us.append(us)

    def at(self, tick):
        if self.smpte:
            return tick * 1000.0 / self.smpte
        i = bisect.bisect_right(self.ticks, tick) - 1
        return self.ms[i] + (tick - self.ticks[i]) * self.us[i] / self.tpq / 1000.0


def cut_short(path):
    """Where the chunks of a Standard MIDI File run past its end, or None:
    midicsv reads on past the end of such a file, so it is not measured."""
    data, at = open(path, "rb").read(), 0
    if not data.startswith(b"MThd"):
        return None
    while at + 8 <= len(data):
        at += 8 + int.from_bytes(data[at + 4:at + 8], "big")
    return at if at > len(data) or 0 < len(data) - at < 8 else None


def read_events(path):
    """The note, controller and tempo events of every track, in absolute
    ticks (a format 2 file's tracks one after another), and the timeline."""
    rows = midicsv(path)
    header = next(r for r in rows if len(r) > 2 and r[2] == "Header")
    fmt, division = int(header[3]), int(header[5])
    events, tempos, track_end, offset = [], [], {}, 0
    for index, r in enumerate(rows):
        if len(r) < 3 or r[0] == "0":
            continue
        track, tick, kind = int(r[0]) - 1, int(r[1]) + offset, r[2]
        if kind in ("Note_on_c", "Note_off_c", "Control_c"):
            events.append((tick, track, index, kind, int(r[3]), int(r[4]), int(r[5])))
        elif kind == "Tempo":
            tempos.append((tick, int(r[3])))
        elif kind == "End_track":
            track_end[track] = tick
            if fmt == 2:
                offset = tick
    return fmt, events, Timeline(division, tempos), track_end


def pair_notes(fmt, events, track_end, across):
    """Notes as (track, channel, key, start tick, key-up tick, order), paired
    as a keyboard plays; `across`: a channel's keys pair across the tracks
    (format 0 and 1), else within each track."""
    order = sorted(events, key=(lambda e: (e[0], e[1], e[2])) if across and fmt != 2 else (lambda e: (e[1], e[0], e[2])))
    notes, latest, owed, sounding = [], {}, set(), {}
    for tick, track, index, kind, channel, a, b in order:
        scope = (None if across and fmt != 2 else track, channel)
        slot = scope + (a,)
        if kind == "Note_on_c" and b > 0:
            n = latest.get(slot)
            if n is not None and notes[n][3] == tick:  # two strikes at one tick: one note
                notes[n][4] = None
                sounding.setdefault(scope, set()).add(slot)
                continue
            owed.discard(slot)
            if n is not None and notes[n][4] is None:
                notes[n][4] = tick  # struck again
                owed.add(slot)
            latest[slot] = len(notes)
            notes.append([track, channel, a, tick, None, index])
            sounding.setdefault(scope, set()).add(slot)
        elif kind in ("Note_on_c", "Note_off_c"):
            n = latest.get(slot)
            if n is None or notes[n][4] is not None:
                continue
            if slot in owed and notes[n][3] == tick:  # the off of the note struck again
                owed.discard(slot)
                continue
            notes[n][4] = tick
            sounding[scope].discard(slot)
        elif kind == "Control_c" and a in (120, 123):
            for s in list(sounding.get(scope, ())):
                n = latest[s]
                if notes[n][4] is None and notes[n][3] < tick:
                    notes[n][4] = tick
                    sounding[scope].discard(s)
    for n in notes:
        if n[4] is None:
            n[4] = max(n[3], track_end.get(n[0], n[3]))
    return notes


def held_ends(notes, events, timeline, last_tick):
    """Per note, in ms, where it stops sounding: its key-up, or with the
    sustain pedal down then, the pedal's lift, the key's next strike, an
    all-notes-off or the end of the file, whichever comes first."""
    down, up, all_off = {}, {}, {}
    for tick, _, _, kind, channel, number, value in sorted(events, key=lambda e: (e[0], e[1], e[2])):
        if kind != "Control_c":
            continue
        d, u = down.setdefault(channel, []), up.setdefault(channel, [])
        pressed = len(d) > len(u)
        if number in (64, 121):
            press = number == 64 and value >= 64
            if press and not pressed:
                d.append(tick)
            elif not press and pressed:
                u.append(tick)
        elif number in (120, 123):
            all_off.setdefault(channel, []).append(tick)
    never = float("inf")
    next_strike, later = [never] * len(notes), {}
    for i in sorted(range(len(notes)), key=lambda i: notes[i][3], reverse=True):
        track, channel, key, start = notes[i][:4]
        next_strike[i] = later.get((channel, key), never)
        later[(channel, key)] = start
    ends = []
    for i, (track, channel, key, start, end, _) in enumerate(notes):
        d, u, offs = down.get(channel, []), up.get(channel, []), all_off.get(channel, [])
        held = end
        p = bisect.bisect_left(d, end) - 1  # pressed before the key-up
        off = bisect.bisect_left(offs, end)
        silenced = off < len(offs) and offs[off] == end
        if p >= 0 and not silenced and (p >= len(u) or u[p] > end):
            held = min(u[p] if p < len(u) else never, next_strike[i], offs[off] if off < len(offs) else never)
            held = max(end, min(held, last_tick))
        ends.append(timeline.at(held))
    return ends


def into_range(key):
    while key < LOWEST:
        key += 12
    while key > HIGHEST:
        key -= 12
    return key


def parse_list(text):
    return {n for part in text.split(",") for n in range(int(part.split("-")[0]), int(part.split("-")[-1]) + 1)}


class Truth:
    """The file's notes as the definitions read them."""

    def __init__(self, path, options, melody_tracks, across):
        fmt, events, timeline, track_end = read_events(path)
        tracks, channels, shift = None, set(range(1, 17)), 0
        for i, word in enumerate(options[:-1]):
            if word == "--tracks":
                tracks = parse_list(options[i + 1])
            elif word == "--channels":
                channels = parse_list(options[i + 1])
            elif word == "--transpose":
                shift = int(options[i + 1])
        paired = pair_notes(fmt, events, track_end, across)
        held = held_ends(paired, events, timeline, max(track_end.values(), default=0))
        self.notes = []  # dicts, by start then file order
        for n, h in zip(paired, held):
            track, channel, key, start, end, index = n
            if channel == PERCUSSION or channel + 1 not in channels or (tracks and track + 1 not in tracks):
                continue
            self.notes.append({"track": track, "key": key, "pitch": into_range(key + shift),
                               "start": timeline.at(start), "end": timeline.at(end), "held": h, "order": (start, track, index)})
        self.notes.sort(key=lambda n: (n["start"], n["order"]))
        # Distinct notes: one of a key per start, within SAME_MS of the first.
        self.distinct, first = [], {}
        for n in self.notes:
            g = first.get(n["key"])
            if g is not None and n["start"] - self.distinct[g]["start"] < SAME_MS:
                d = self.distinct[g]
                d["end"], d["held"] = max(d["end"], n["end"]), max(d["held"], n["held"])
            else:
                g = first[n["key"]] = len(self.distinct)
                self.distinct.append(dict(n))
            n["group"] = g
        self.melody = top_line([n for n in self.notes if n["track"] + 1 in melody_tracks]) if melody_tracks else None
        self.length = max((n["held"] for n in self.notes), default=0.0)


def top_line(notes):
    """The notes (by start) with no higher key down at their start."""
    ends, top, i = [], [], 0
    active = [0] * 128
    while i < len(notes):
        t = notes[i]["start"]
        j = i
        while j < len(notes) and notes[j]["start"] == t:
            j += 1
        while ends and ends[0][0] <= t:
            active[ends.pop(0)[1]] -= 1
        now = notes[i:j]
        highest = max([k for k in range(128) if active[k] > 0] + [n["key"] for n in now])
        top += [n for n in now if n["key"] == highest]
        for n in now:
            if n["end"] > t:
                active[n["key"]] += 1
                bisect.insort(ends, (n["end"], n["key"]))
        i = j
    return top


def most_down(distinct):
    changes = sorted([(n["start"], 1) for n in distinct] + [(max(n["end"], n["start"]), -1) for n in distinct],
                     key=lambda c: (c[0], c[1]))
    now = most = 0
    for _, change in changes:
        now += change
        most = max(most, now)
    return most


def ceiling(distinct, k):
    total, count, last = 0, 0, None
    for n in distinct:
        if last is None or n["start"] - last >= SAME_MS:
            total += min(k, count)
            count = 0
        count += 1
        last = n["start"]
    return total + min(k, count)


def first_come(distinct, k):
    free_at, taken = [float("-inf")] * k, 0
    for n in sorted(distinct, key=lambda n: (n["start"], n["order"])):
        g = min(range(k), key=lambda v: free_at[v])
        if free_at[g] <= n["start"]:
            free_at[g] = n["end"]
            taken += 1
    return taken


def board_notes(score, render, trill, work):
    """What the board plays: (pitch, start ms, end ms), joined per pitch."""
    rendered = os.path.join(work, "board.mid")
    subprocess.run([render, *(["--trill"] if trill else []), score, rendered], check=True, capture_output=True)
    fmt, events, timeline, track_end = read_events(rendered)
    raw = [(n[2], timeline.at(n[3]), timeline.at(n[4])) for n in pair_notes(fmt, events, track_end, False)]
    sixty_fourth = 60000 // (16 * int(open(score).read().split("\n")[0]))
    runs, by_pitch = [], {}
    for key, start, end in sorted(raw, key=lambda r: (r[0], r[1])):
        if trill and key == LOWEST:
            continue
        last = by_pitch.get(key)
        if last is not None and start - runs[last][2] <= (sixty_fourth if trill else 0) + 0.5:
            runs[last][2] = max(runs[last][2], end)
        else:
            by_pitch[key] = len(runs)
            # The trill player's voices take turns within a cycle of
            # two sixty-fourths: a pitch starts where its cycle starts.
            runs.append([key, start - start % (2 * sixty_fourth) if trill else start, end])
    return sorted(runs, key=lambda r: r[1])


def measure(truth, runs, k):
    """The figures of one import against the file."""
    onsets = {}
    for pitch, start, end in runs:  # by start
        onsets.setdefault(pitch, ([], [], []))
        onsets[pitch][0].append(start)
        onsets[pitch][1].append(False)
        onsets[pitch][2].append(end)
    # An onset that could count for more than one note goes to the melody's
    # note first (the listener hears the melody's pitch at its time), then
    # to the earlier note.
    tune = {n["group"] for n in truth.melody} if truth.melody else set()
    for g in sorted(range(len(truth.distinct)), key=lambda g: (g not in tune, g)):
        d = truth.distinct[g]
        starts, used, ends = onsets.get(d["pitch"], ([], [], []))
        lo, hi = bisect.bisect_left(starts, d["start"] - ONSET_MS), bisect.bisect_right(starts, d["start"] + ONSET_MS)
        near = [i for i in range(lo, hi) if not used[i]]
        d["kept"] = bool(near)
        d["audible"] = False
        if near:
            i = min(near, key=lambda i: abs(starts[i] - d["start"]))
            used[i] = True
            d["audible"] = ends[i] - starts[i] >= min(AUDIBLE_MS, d["end"] - d["start"]) - ONSET_MS
    kept = sum(d["kept"] for d in truth.distinct)
    audible = sum(d["audible"] for d in truth.distinct)
    top = top_line(truth.distinct)
    # Drones: the file's holding of each pitch as joined stretches.
    stretches = {}
    for n in sorted(truth.notes, key=lambda n: n["start"]):
        s = stretches.setdefault(n["pitch"], [])
        if s and n["start"] <= s[-1][1]:
            s[-1][1] = max(s[-1][1], n["held"])
        else:
            s.append([n["start"], n["held"]])
    firsts = {pitch: [a for a, _ in s] for pitch, s in stretches.items()}
    drones, worst = 0, 0.0
    for pitch, start, end in runs:
        s = stretches.get(pitch, [])
        i = bisect.bisect_right(firsts.get(pitch, []), start + ONSET_MS) - 1
        held = s[i][1] if i >= 0 and s[i][1] >= start - ONSET_MS else start
        if end - held > DRONE_MS:
            drones += 1
            worst = max(worst, end - held)
    melody = None
    if truth.melody is not None:
        melody = (sum(truth.distinct[n["group"]]["kept"] for n in truth.melody), len(truth.melody))
    return {"notes": len(truth.distinct), "kept": kept, "audible": audible, "ceiling": ceiling(truth.distinct, k),
            "first": first_come(truth.distinct, k), "top": (sum(d["kept"] for d in top), len(top)),
            "melody": melody, "drones": drones, "worst": worst,
            "length": max((end for _, _, end in runs), default=0.0), "file_length": truth.length,
            "few": most_down(truth.distinct) <= k}


def percent(part, whole):
    return 100.0 * part / whole if whole else 100.0


def clock(ms):
    return f"{int(ms // 60000)}:{ms % 60000 / 1000:04.1f}"


def row(name, m, import_ms):
    if "skipped" in m:
        return f"| {name} | {m['skipped']} |" + " |" * 13
    melody = f"{percent(*m['melody']):.0f}% of {m['melody'][1]}" if m["melody"] else "-"
    drones = f"{m['drones']} (+{m['worst'] / 1000:.1f} s)" if m["drones"] else "0"
    length = percent(m["length"] - m["file_length"], m["file_length"])
    few = "-"
    if m["few"]:
        few = f"{percent(m['kept'], m['notes']):.0f}%, {'length ok' if abs(length) <= 1 else 'length off'}"
    return (f"| {name} | {m['notes']} | {m['kept']} | {m['ceiling']} | {percent(m['kept'], m['ceiling']):.1f}% "
            f"| {m['audible']} | {percent(m['audible'], m['ceiling']):.1f}% | {m['first']}{' (more)' if m['first'] > m['kept'] else ''} | {percent(*m['top']):.1f}% | {melody} "
            f"| {drones} | {m.get('late', 0)} | {clock(m['length'])} ({length:+.2f}%) | {few} "
            f"| {import_ms:.0f} ms, {m['notes'] / max(import_ms, 0.001):.0f}/ms |")


def summary(figures, k):
    done = [(name, m) for name, m in figures if "skipped" not in m]
    lines = [f"- not measured (refused, cut short or unreadable): {len(figures) - len(done)} of {len(figures)} runs"]
    if not done:
        return lines
    ratios = [percent(m["kept"], m["ceiling"]) for _, m in done]
    lines.append(f"- kept against the ceiling: median {statistics.median(ratios):.1f}%, lowest {min(ratios):.1f}%")
    heard = [percent(m["audible"], m["ceiling"]) for _, m in done]
    lines.append(f"- audible against the ceiling: median {statistics.median(heard):.1f}%, lowest {min(heard):.1f}%")
    name, m = min(done, key=lambda f: percent(*f[1]["top"]))
    lines.append(f"- top line: lowest {percent(*m['top']):.1f}% ({name})")
    melodic = [(name, m) for name, m in done if m["melody"]]
    if melodic:
        name, m = min(melodic, key=lambda f: percent(*f[1]["melody"]))
        lines.append(f"- named melody: lowest {percent(*m['melody']):.1f}% ({name}), "
                     f"{sum(percent(*m['melody']) >= (95 if k == 3 else 90) for _, m in melodic)} of {len(melodic)} "
                     f"at {95 if k == 3 else 90}% or more")
    drones = [m for _, m in done if m["drones"]]
    lines.append(f"- drones: {sum(m['drones'] for m in drones)} notes in {len(drones)} runs"
                 + (f", worst +{max(m['worst'] for m in drones) / 1000:.1f} s" if drones else ""))
    late = [m.get("late", 0) for _, m in done]
    lines.append(f"- started late: {sum(late)} notes in {sum(n > 0 for n in late)} runs")
    lines.append(f"- fewer notes kept than first-come: {sum(m['first'] > m['kept'] for _, m in done)} runs")
    few = [m for _, m in done if m["few"]]
    whole = sum(m["kept"] == m["notes"] and abs(percent(m["length"] - m["file_length"], m["file_length"])) <= 1
                for m in few)
    lines.append(f"- at most {k} keys down: {whole} of {len(few)} runs with every note within 5 ms and the length within 1%")
    return lines


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "test"),
                        help="the folder of the built pitchime-import and pitchime-render (default build/test)")
    parser.add_argument("--manifest", help="the runs to make (default FOLDER/manifest.json when it exists)")
    parser.add_argument("--pair", choices=("channel", "track"), default="channel",
                        help="pair a key's notes across the tracks of its channel (default) or within each track")
    parser.add_argument("--modes", default="three,trill", help="three, trill or both (default)")
    parser.add_argument("--runs", type=int, default=3, help="timed runs of each import (default 3)")
    args = parser.parse_args()

    manifest = args.manifest or os.path.join(args.folder, "manifest.json")
    if os.path.exists(manifest):
        entries = json.load(open(manifest, encoding="utf-8"))
    else:
        entries = [{"file": f} for f in sorted(os.listdir(args.folder)) if f.lower().endswith((".mid", ".midi"))]
    importer, render = (os.path.join(args.build, p) for p in ("pitchime-import", "pitchime-render"))
    pairing = "across the tracks of its channel (format 0 and 1)" if args.pair == "channel" else "within its track"
    print(DEFINITIONS.format(pairing=pairing, runs=args.runs))

    with tempfile.TemporaryDirectory() as work:
        for mode in args.modes.split(","):
            trill, k = mode == "trill", 2 if mode == "trill" else 3
            print(f"### {'With --trill (two voices)' if trill else 'Three voices'}\n")
            print("| run | notes | kept | ceiling | kept/ceil | audible | aud/ceil | first-come | top line | melody | drones | late | length "
                  f"| at most {k} | import |")
            print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
            figures = []
            for e in entries:
                name = e.get("name", os.path.splitext(e["file"])[0])
                path = os.path.join(args.folder, e["file"])
                options = list(e.get("options", [])) + (["--trill"] if trill else [])
                score = os.path.join(work, "score.txt")
                times, status = [], None
                for _ in range(max(args.runs, 1)):
                    began = time.perf_counter()
                    status = subprocess.run([importer, *options, path, score], capture_output=True, text=True)
                    times.append((time.perf_counter() - began) * 1000)
                if status.returncode != 0:
                    m = {"skipped": status.stderr.strip().splitlines()[-1] if status.stderr.strip() else "no score"}
                elif cut_short(path) is not None:
                    m = {"skipped": "not measured, cut short: " + status.stderr.splitlines()[0]}
                else:
                    try:
                        truth = Truth(path, options, set(e.get("melody_tracks") or []), args.pair == "channel")
                        m = measure(truth, board_notes(score, render, trill, work), k)
                        late = re.search(r"; (\d+) started late", status.stderr)
                        m["late"] = int(late.group(1)) if late else 0
                    except (ValueError, subprocess.CalledProcessError) as error:
                        m = {"skipped": f"not measured: {error}"}
                figures.append((name, m))
                print(row(name, m, statistics.median(times)), flush=True)
            print()
            print("\n".join(summary(figures, k)))
            print()


if __name__ == "__main__":
    main()
