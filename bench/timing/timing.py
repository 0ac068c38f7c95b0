#!/usr/bin/env python3
"""Playback timing benchmark: plays the bundled scores in real time on the
virtual tone board and reports how much longer each row takes than its wait.

Every row of a score is meant to last its wait (the time the player sleeps)
plus the time of its register writes and console output. This measures that
extra time two ways:

  REAL - wait   the "REAL:" line the program prints after each row (whole
                milliseconds of its own clock) minus the row's wait;
  write gap     from the virtual board's trace: the time from the first
                register write of a row to the first of the next row, minus
                the row's wait, in microseconds.

and compares the tempo report's measured BPM with the BPM the score's waits
alone would give. Each score is played idle and with one core kept busy by
another process, with and without the board's trace (the trace costs time
itself; without it only the REAL figures exist). The same waits are then
slept by sleep-probe alone, with nothing else to do: how late the machine
wakes a sleeper is the floor under every figure above.

Usage: cmake --build --preset default --target timing
(or python3 bench/timing/timing.py after building the default preset)
"""

import argparse
import json
import os
import pty
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]

# The bundled scores and the program each one is written for.
SCORES = [
    ("ode-to-joy.txt", "pitchime"),
    ("frere-jacques-round.txt", "pitchime"),
    ("twinkle-twinkle-little-star.txt", "pitchime"),
    ("minuet-in-g.txt", "pitchime-trill"),
]

# A second process that keeps one core busy until it is killed, or until
# its own deadline if the benchmark dies first.
BUSY_LOOP = "import time\nend = time.monotonic() + {seconds}\nwhile time.monotonic() < end: pass\n"


def read_number(text):
    """A number the way the programs read one: atoi's rule."""
    text = text.lstrip(" \t\n\v\f\r")
    sign, i = 1, 0
    if text[:1] in ("+", "-"):
        sign = -1 if text[0] == "-" else 1
        i = 1
    digits = ""
    while i < len(text) and text[i].isdigit():
        digits += text[i]
        i += 1
    return sign * int(digits) if digits else 0


class Score:
    """A score as both players read it, with what each row waits and writes."""

    def __init__(self, lines, program):
        self.lines = lines
        self.program = program
        self.bpm = read_number(lines[0])
        self.part = read_number(lines[1])
        self.rows = [[read_number(f) for f in line.split(",")] for line in lines[2:]]
        self.sixty_fourth_ms = int(60000 / (16 * self.bpm))

    def length(self, row):
        return row[self.part]

    def row_waits(self, row):
        """The waits of one row, in milliseconds, in the order the player sleeps."""
        length = self.length(row)
        if self.program == "pitchime":
            return [(64 // length) * self.sixty_fourth_ms]
        return [self.sixty_fourth_ms] * (2 * max(0, 32 // length))

    def row_write_groups(self):
        """Per row, the number of register writes before each of its waits."""
        groups, silenced = [], [0, 0, 0]
        for row in self.rows:
            if self.program == "pitchime-trill":
                groups.append([2] * len(self.row_waits(row)))
                continue
            writes = 0
            for v in range(self.part):
                if silenced[v] and row[v] != 0:
                    writes += 1
                    silenced[v] = 0
            for v in range(self.part):
                if row[v] != 0:
                    writes += 2
                else:
                    writes += 1
                    silenced[v] = 1
            groups.append([writes])
        return groups

    def ideal_bpm(self):
        """The tempo report of a run in which every row lasts exactly its wait."""
        quarter_sum = sum(sum(self.row_waits(row)) * self.length(row) // 4 for row in self.rows)
        quarter = quarter_sum // len(self.rows)
        return 60000 / quarter if quarter else float("inf")

    def first_seconds(self, seconds):
        """The opening rows of the score whose waits add up to `seconds`."""
        kept, total = [], 0
        for line, row in zip(self.lines[2:], self.rows):
            if total >= seconds * 1000:
                break
            kept.append(line)
            total += sum(self.row_waits(row))
        return Score(self.lines[:2] + kept, self.program)

    def total_wait_ms(self):
        return sum(sum(self.row_waits(row)) for row in self.rows)


def run_program(binary, score_path, output, trace_path, work):
    """Runs one program on one score with no terminal to wait for a key;
    returns its console transcript."""
    env = dict(os.environ)
    env.pop("PITCHIME_VBOARD_TRACE", None)
    if trace_path:
        env["PITCHIME_VBOARD_TRACE"] = str(trace_path)
    args = [str(binary), str(score_path)]
    common = dict(stdin=subprocess.DEVNULL, env=env, start_new_session=True)
    if output == "pipe":
        return subprocess.run(args, stdout=subprocess.PIPE, check=True, **common).stdout.decode()
    if output == "file":
        with tempfile.TemporaryFile(dir=work) as out:
            subprocess.run(args, stdout=out, check=True, **common)
            out.seek(0)
            return out.read().decode()
    # A pseudo-terminal, read as fast as the program writes; a terminal
    # emulator drawing the text would take longer still.
    controller, terminal = pty.openpty()
    chunks = []

    def drain():
        while True:
            try:
                data = os.read(controller, 65536)
            except OSError:
                return
            if not data:
                return
            chunks.append(data)

    reader = threading.Thread(target=drain)
    reader.start()
    try:
        subprocess.run(args, stdout=terminal, check=True, **common)
    finally:
        os.close(terminal)
        reader.join()
        os.close(controller)
    return b"".join(chunks).decode().replace("\r\n", "\n")


def parse_transcript(text):
    reals = [int(line[len("REAL:\t") :]) for line in text.split("\n") if line.startswith("REAL:\t")]
    bpm = None
    for line in text.split("\n"):
        if line.startswith("Measurement BPM"):
            bpm = float(line.rsplit("\t", 1)[1])
    return reals, bpm


def write_times(trace_path):
    """Times (us) of the 21-byte frames the board received, in order."""
    times = []
    with open(trace_path) as trace:
        for line in trace:
            event = json.loads(line)
            if event.get("call") == "FT_Write" and len(event.get("bytes", "")) == 42:
                times.append(event["t_us"])
    return times


def overheads(score, reals, frame_times):
    """Per-row REAL overhead (ms), per-row write-gap overhead (us) and per-wait
    write-gap overhead (us)."""
    real_over = [real - sum(score.row_waits(row)) for real, row in zip(reals, score.rows)]
    if frame_times is None:
        return real_over, [], []
    frames = iter(frame_times[3:])  # the first three are the session's control words
    # Per row: the time of the first write before each of its waits.
    group_times = []
    for counts in score.row_write_groups():
        row_times = []
        for count in counts:
            row_times.append(next(frames))
            for _ in range(count - 1):
                next(frames)
        group_times.append(row_times)
    row_gap, wait_gap = [], []
    segments = []  # (time of a group's first write, wait after the group)
    for row, times in zip(score.rows, group_times):
        segments += zip(times, score.row_waits(row))
    for (t0, wait), (t1, _) in zip(segments, segments[1:]):
        wait_gap.append(t1 - t0 - wait * 1000)
    for i in range(len(score.rows) - 1):
        if group_times[i] and group_times[i + 1]:
            waited = sum(score.row_waits(score.rows[i])) * 1000
            row_gap.append(group_times[i + 1][0] - group_times[i][0] - waited)
    return real_over, row_gap, wait_gap


def run_probe(probe, waits):
    """Sleeps `waits` with nothing else to do; returns each sleep's lateness (us)."""
    text = "\n".join(str(w) for w in waits) + "\n"
    out = subprocess.run([str(probe)], input=text.encode(), stdout=subprocess.PIPE, check=True).stdout
    return [int(line) for line in out.split()]


def cpu_times():
    """Busy and total time of all cores so far, from /proc/stat."""
    with open("/proc/stat") as stat:
        fields = [int(v) for v in stat.readline().split()[1:]]
    idle = fields[3] + fields[4]  # idle, iowait
    return sum(fields) - idle, sum(fields)


def percentile(values, p):
    """Nearest-rank percentile."""
    ordered = sorted(values)
    rank = max(1, -(-p * len(ordered) // 100))
    return ordered[int(rank) - 1]


def summary(values, unit_format):
    if not values:
        return "-"
    return "/".join(
        unit_format.format(v) for v in (statistics.median(values), percentile(values, 99), max(values))
    )


def start_busy_core(seconds):
    busy = subprocess.Popen([sys.executable, "-c", BUSY_LOOP.format(seconds=seconds)])
    time.sleep(0.5)  # let it reach its loop
    return busy


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=str(SOURCE_DIR / "build" / "default"))
    parser.add_argument(
        "--seconds", type=float, default=7.0, help="play the opening this long of each score (default 7)"
    )
    parser.add_argument("--full", action="store_true", help="play every score in full (about 2.5 min a pass)")
    parser.add_argument(
        "--output",
        choices=("file", "pipe", "tty"),
        default="file",
        help="where the programs' console output goes (default: a file)",
    )
    parser.add_argument("--idle-only", action="store_true", help="skip the runs with one core busy")
    parser.add_argument(
        "--work-dir",
        default="/dev/shm" if os.path.isdir("/dev/shm") else None,
        help="where the scores, traces and output files go (default: /dev/shm, in memory, so that "
        "writing them costs the programs as little as it can)",
    )
    args = parser.parse_args()

    build = Path(args.build_dir)
    probe = build / "bench" / "sleep-probe"
    for binary in (build / "pitchime", build / "pitchime-trill", probe):
        if not binary.exists():
            sys.exit(f"{binary} not found: build the default preset first")

    scores = []
    for name, program in SCORES:
        lines = (SOURCE_DIR / "examples" / name).read_text().splitlines()
        full = Score(lines, program)
        scores.append((name, full if args.full else full.first_seconds(args.seconds)))
    pass_seconds = sum(s.total_wait_ms() for _, s in scores) / 1000

    loads = ["idle"] if args.idle_only else ["idle", "busy"]
    passes = [(load, kind) for load in loads for kind in ("untraced", "traced", "probe")]
    with open("/proc/loadavg") as loadavg:
        load_average = " ".join(loadavg.read().split()[:3])
    print(
        f"{len(passes)} passes of {pass_seconds:.0f} s each on {os.cpu_count()} cores "
        f"(load average {load_average}); console output to a {args.output}",
        file=sys.stderr,
    )

    # (load, kind, program) -> per-row REAL overheads, row gaps, wait gaps
    figures = {}
    bpms = {}  # (load, kind, score name) -> measured BPM
    busy_share = {}  # (load, kind) -> share of all cores' time that was busy
    with tempfile.TemporaryDirectory(prefix="pitchime-timing-", dir=args.work_dir) as work:
        work = Path(work)
        for load in loads:
            busy = start_busy_core(pass_seconds * 4 + 60) if load == "busy" else None
            try:
                for kind in ("untraced", "traced", "probe"):
                    print(f"  {load} {kind}", file=sys.stderr)
                    before = cpu_times()
                    for name, score in scores:
                        row_figures = figures.setdefault((load, kind, score.program), ([], [], []))
                        if kind == "probe":
                            late = iter(run_probe(probe, [w for row in score.rows for w in score.row_waits(row)]))
                            per_row = [[next(late) for _ in score.row_waits(row)] for row in score.rows]
                            row_figures[1].extend(sum(r) for r in per_row if r)
                            row_figures[2].extend(v for r in per_row for v in r)
                            continue
                        score_path = work / name
                        score_path.write_text("\n".join(score.lines) + "\n")
                        trace_path = work / (name + ".trace") if kind == "traced" else None
                        if trace_path and trace_path.exists():
                            trace_path.unlink()
                        text = run_program(build / score.program, score_path, args.output, trace_path, work)
                        reals, bpms[(load, kind, name)] = parse_transcript(text)
                        if len(reals) != len(score.rows):
                            sys.exit(f"{name}: {len(reals)} REAL lines for {len(score.rows)} rows")
                        frames = write_times(trace_path) if trace_path else None
                        for mine, more in zip(row_figures, overheads(score, reals, frames)):
                            mine.extend(more)
                    after = cpu_times()
                    busy_share[(load, kind)] = (after[0] - before[0]) / max(1, after[1] - before[1])
            finally:
                if busy:
                    busy.kill()
                    busy.wait()

    print(f"\nOverhead beyond the wait: median/p99/max; console output to a {args.output}")
    print("  REAL-wait: the REAL line minus the row's wait (whole ms)")
    print("  row gap:   first register write of a row to the next row's, minus the row's wait")
    print("  wait gap:  the same from one wait to the next (a trill row has 2 per cycle)")
    print("  probe:     the same waits slept with nothing else to do (the machine's floor)")
    print("  cpu:       how busy all cores were in the pass; the busy loop is one core of them")
    print(
        f"{'load':5} {'run':9} {'cpu':>4} {'program':15} {'rows':>5} {'REAL-wait ms':>13} "
        f"{'row gap us':>16} {'waits':>6} {'wait gap us':>14}"
    )
    for load, kind in passes:
        for program in ("pitchime", "pitchime-trill"):
            real, row_gap, wait_gap = figures[(load, kind, program)]
            rows = len(real) or len(row_gap)
            print(
                f"{load:5} {kind:9} {busy_share[(load, kind)]:4.0%} {program:15} {rows:5} "
                f"{summary(real, '{:g}'):>13} {summary(row_gap, '{:.0f}'):>16} "
                f"{len(wait_gap) or '':>6} {summary(wait_gap, '{:.0f}'):>14}"
            )

    runs = [(load, kind) for load, kind in passes if kind != "probe"]
    print("\nMeasured BPM (tempo report) against the BPM of the waits alone")
    print(f"{'score':32} {'rows':>5} {'ideal':>9}" + "".join(f" {load + ' ' + kind:>15}" for load, kind in runs))
    for name, score in scores:
        print(
            f"{name:32} {len(score.rows):5} {score.ideal_bpm():9.6g}"
            + "".join(f" {bpms[(load, kind, name)]:15.6g}" for load, kind in runs)
        )


if __name__ == "__main__":
    main()
