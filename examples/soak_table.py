#!/usr/bin/env python3
"""Runs every soak workload (examples/soak.c) and prints one table of how each one's memory,
descriptors and time per tenth moved from the first tenth of its work to the last.

Usage: soak_table.py [--scale S] [--only NAME[,NAME...]] BIN_DIR
  BIN_DIR holds the built soak and http_hello programs; S is the share of the full work
  (1 by default; 0.1 for the short run).

A row is flat when the resident memory after the last tenth is at most max(2 %, 1 MiB) above
the first tenth's, the descriptor count is the same, and the time per tenth has not grown:
the least processor time of the last three tenths is at most 1.5 times the least of the first
three, plus 10 ms. Processor time, not wall time: on a shared machine the wall time of starting
threads swings tenfold with what else runs. Noise only ever adds time, so the least of three
sees through it, while a loop that slows down slows every tenth. Memory that shrinks is flat. The one designed
exception is host_threads_keep, whose threads end with live values in their arenas: it may
grow by up to 16 KiB for every thread started after the first tenth.
Exits 1 when a row is not flat or a workload failed its own checks.
"""
import argparse
import os
import pathlib
import subprocess
import sys

KIB_PER_KEPT_THREAD = 16
CPU_FACTOR = 1.5
CPU_SLACK_MS = 10.0


def run(binary, server, name, scale):
    """The workload's samples (one dict per tenth) and its unit count; raises on failure."""
    limit = 120 + 600 * scale
    done = subprocess.run([str(binary), name, str(scale), str(server)], capture_output=True,
                          text=True, timeout=limit)
    samples, units, notes = [], None, []
    for line in done.stdout.splitlines():
        fields = line.split()
        if fields[:1] == ["tenth"]:
            values = dict(zip(fields[2::2], fields[3::2]))
            samples.append({"rss": int(values["rss_kib"]), "huge": int(values["huge_kib"]),
                            "fds": int(values["fds"]), "ms": float(values["ms"]),
                            "cpu": float(values["cpu_ms"])})
        elif fields[:1] == ["done"]:
            units = int(fields[2])
        elif fields[:1] == ["note"]:
            notes.append(" ".join(fields[1:]))
    if done.returncode != 0 or units is None or len(samples) != 10:
        raise RuntimeError(done.stderr.strip() or f"exit status {done.returncode}")
    return samples, units, notes


def verdict(name, samples, units):
    """The allowed growth in KiB and the list of the criteria that failed."""
    first, last = samples[0], samples[-1]
    allowed = max(first["rss"] * 0.02, 1024)
    if name == "host_threads_keep":
        allowed = max(allowed, KIB_PER_KEPT_THREAD * (units - units // 10))
    failed = []
    if last["rss"] - first["rss"] > allowed:
        failed.append("rss")
    if last["fds"] != first["fds"]:
        failed.append("fds")
    early = min(s["cpu"] for s in samples[:3])
    late = min(s["cpu"] for s in samples[-3:])
    if late > early * CPU_FACTOR + CPU_SLACK_MS:
        failed.append("time")
    return allowed, failed


def mib(kib):
    return f"{kib / 1024:.1f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--only", default="")
    parser.add_argument("bin_dir", type=pathlib.Path)
    args = parser.parse_args()
    soak, server = args.bin_dir / "soak", args.bin_dir / "http_hello"
    names = subprocess.run([str(soak), "--list"], capture_output=True, text=True,
                           check=True).stdout.split()
    if args.only:
        names = [n for n in names if n in args.only.split(",")]

    thp = pathlib.Path("/sys/kernel/mm/transparent_hugepage/enabled")
    print(f"soak at scale {args.scale:g} on {os.cpu_count()} cores, Linux {os.uname().release}, "
          f"transparent huge pages {thp.read_text().strip() if thp.exists() else 'unknown'}")
    head = ("workload", "units", "RSS first", "RSS last", "growth", "allowed", "huge last",
            "fds", "wall ms/tenth", "cpu ms/tenth", "")
    rows, bad, notes = [], 0, []
    for name in names:
        try:
            samples, units, extra = run(soak, server, name, args.scale)
        except (RuntimeError, subprocess.TimeoutExpired) as e:
            rows.append((name,) + ("",) * (len(head) - 2) + (f"FAILED: {e}",))
            bad += 1
            continue
        notes += [f"{name}: {n}" for n in extra]
        allowed, failed = verdict(name, samples, units)
        bad += bool(failed)
        first, last = samples[0], samples[-1]
        rows.append((name, str(units), mib(first["rss"]), mib(last["rss"]),
                     f"{(last['rss'] - first['rss']) / 1024:+.1f}", mib(allowed),
                     mib(last["huge"]), f"{first['fds']}/{last['fds']}",
                     f"{first['ms']:.1f}..{last['ms']:.1f}",
                     f"{first['cpu']:.1f}..{last['cpu']:.1f}",
                     "flat" if not failed else "NOT flat (" + ", ".join(failed) + ")"))
    widths = [max(len(r[i]) for r in rows + [head]) for i in range(len(head))]
    print("memory in MiB, first and last tenth; time per tenth: first..last")
    for row in [head] + rows:
        print("  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip())
    for note in notes:
        print(note)
    print(f"{len(rows) - bad} of {len(rows)} rows flat")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
