#!/usr/bin/env python3
"""Runs every benchmark of a bench build and prints one table.

Rows come from three sources:
  * the Google Benchmark programs (<build>/bench/*_bench), each benchmark of ours paired with
    the peers registered beside it (ours are the names holding "qor" or an event-loop name);
  * the example programs run at full size beside their C and C++ peers, on inputs generated
    here into <build>/inputs (the same bytes on every run), outputs checked to be identical;
  * the drivers listed in DRIVERS (the HTTP server under load), printing
    NAME<TAB>ours<TAB>peer<TAB>goal lines.
Every ratio is ours/peer time (peer/ours for throughputs), so lower is better everywhere; the
goal is the largest ratio the row may have. The geometric mean is over ours/best peer, for rows
whose peer is another implementation (not a second run of ours).
"""
import argparse
import json
import math
import os
import re
import signal
import subprocess
import sys
import time

# Goals, matched in order: (ours pattern, peer pattern, largest ratio). A row without a
# matching goal is shown without one.
GOALS = [
    (r"Churn", r"fresh", 1.5),
    (r"StrHashMap", r"absl", 1.3),
    (r"Strmap|StringMap", r"absl", 1.0),
    (r"HashMap|IntMap", r"absl", 1.0),
    (r"Replace|Split|Join", r".", 1.0),
    (r"Builder|IntToString|F64ToString|IndexOf|Count|Search|Find", r".", 1.2),
]

# Peers whose pairing the name heuristic would get wrong: peer name -> ours name.
PAIRS = {}

# Ours, for names that do not say (see classify): names holding "qor" or an event-loop word.
# A peer labelled "fresh" is a second run of ours (a fresh table against a churned one), so
# its row does not count towards the geometric mean.
OURS_NAME = re.compile(r"qor|EventLoop|EventDriven", re.IGNORECASE)
SELF_PEER = re.compile(r"fresh", re.IGNORECASE)
PAIR_NOISE = {"bm", "qor", "peer", "std", "absl", "ours", "fresh"}

WORDS_BYTES = 80 << 20
WORDS_VOCABULARY = 250000
NUMBERS = 10000000


def tokens(name):
    base = split_name(name)[0]
    words = re.findall(r"[A-Z]+(?![a-z])|[A-Z]?[a-z]+|\d+", base)
    return {w.lower() for w in words} - PAIR_NOISE


def goal_for(ours, peer):
    for ours_pattern, peer_pattern, goal in GOALS:
        if re.search(ours_pattern, ours, re.I) and re.search(peer_pattern, peer, re.I):
            return goal
    return None


def row(name, peer, ours, peer_value, goal=None, external=True, note="", rate=False):
    """ours and peer_value are nanoseconds, or requests per second when rate is set."""
    return {"name": name, "peer": peer, "ours": ours, "peer_value": peer_value, "goal": goal,
            "external": external, "note": note, "rate": rate}


def ratio_of(r):
    if not r["ours"] or not r["peer_value"]:
        return None
    return r["peer_value"] / r["ours"] if r["rate"] else r["ours"] / r["peer_value"]


def google_benchmarks(bench_dir, min_time, warmup, repetitions):
    rows = []
    programs = sorted(f for f in os.listdir(bench_dir) if f.endswith("_bench")
                      and os.access(os.path.join(bench_dir, f), os.X_OK))
    for program in programs:
        out = os.path.join(bench_dir, program + ".json")
        print(f"  {program}", file=sys.stderr, flush=True)
        result = subprocess.run([os.path.join(bench_dir, program), f"--benchmark_out={out}",
                                 "--benchmark_out_format=json",
                                 f"--benchmark_min_time={min_time}",
                                 f"--benchmark_min_warmup_time={warmup}",
                                 f"--benchmark_repetitions={repetitions}"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if result.returncode != 0 or not os.path.exists(out):
            why = (result.stderr.strip().splitlines() or [f"status {result.returncode}"])[-1]
            rows.append(row(program, "-", None, None, note="failed: " + why))
            continue
        with open(out) as f:
            runs = [b for b in json.load(f)["benchmarks"] if b.get("run_type") != "aggregate"]
        rows.extend(pair_runs(fastest_repetitions(runs)))
    return rows


def fastest_repetitions(runs):
    """The fastest repetition of each benchmark, in first-seen order: on a shared machine the
    noise only ever adds time, so the minimum is the steadiest estimate."""
    best = {}
    for run in runs:
        kept = best.get(run["name"])
        if kept is None or to_ns(run) < to_ns(kept):
            best[run["name"]] = run
    return list(best.values())


def to_ns(run):
    """The time of one iteration: the benchmark thread's CPU time, which leaves out the time
    the machine gave to others (on a shared virtual machine that is often the larger part of
    the spread), unless the benchmark measures wall time because it waits for other threads or
    processes (UseRealTime, which marks the name "/real_time")."""
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
    wall = "/real_time" in run["name"]
    return run["real_time" if wall else "cpu_time"] * scale


def split_name(name):
    """The parts of a benchmark name between '/' (a template argument may hold one), without
    the "real_time" mark."""
    parts, depth, start = [], 0, 0
    for at, c in enumerate(name):
        depth += (c == "<") - (c == ">")
        if c == "/" and depth == 0:
            parts.append(name[start:at])
            start = at + 1
    parts.append(name[start:])
    return [p for p in parts if p != "real_time"]


def classify(name):
    """(is ours, pairing key or None, peer label) of a benchmark. Names may say outright what
    they are: a part "ours" or "peer_LABEL", or a first part ending in "_ours",
    "_peer_LABEL", "_peer<LABEL>" or "_fresh"; the key is then the name without that mark. Other names are
    ours when they hold "qor" or an event-loop word, and are paired by their arguments."""
    parts = split_name(name.removeprefix("BM_"))
    if "ours" in parts:
        return True, tuple(p for p in parts if p != "ours"), None
    for at, part in enumerate(parts):
        marked = re.fullmatch(r"peer(?:_(.+))?", part)
        if marked:
            return False, tuple(parts[:at] + parts[at + 1:]), marked.group(1) or "peer"
    first = re.fullmatch(r"(.+?)_(ours|fresh|peer<(.+)>|peer_(.+))", parts[0])
    if first:
        key = tuple([first.group(1)] + parts[1:])
        if first.group(2) == "ours":
            return True, key, None
        return False, key, first.group(3) or first.group(4) or first.group(2)
    label = "/".join(parts)
    return bool(OURS_NAME.search(parts[0])), None, label


def pair_runs(runs):
    """Pairs every peer with one of ours: by the key its name gives, or else with one of ours
    of the same arguments, the one sharing most name words, ties going to the nearest one
    registered before it."""
    kinds = [classify(r["name"]) for r in runs]
    ours = [i for i, kind in enumerate(kinds) if kind[0]]
    peers_of = {i: [] for i in ours}
    for i, (is_ours, key, label) in enumerate(kinds):
        if is_ours:
            continue
        name = runs[i]["name"]
        if key is not None:
            candidates = [j for j in ours if kinds[j][1] == key]
        elif name in PAIRS:
            candidates = [j for j in ours if runs[j]["name"] == PAIRS[name]]
        else:
            args = split_name(name)[1:]
            candidates = [j for j in ours if split_name(runs[j]["name"])[1:] == args]
        if not candidates:
            continue
        best = max(candidates, key=lambda j: (len(tokens(runs[j]["name"]) & tokens(name)),
                                              j < i, -abs(j - i)))
        peers_of[best].append(i)
    rows = []
    for i in ours:
        o = runs[i]
        shown = "/".join(kinds[i][1]) if kinds[i][1] else "/".join(
            split_name(o["name"].removeprefix("BM_")))
        if not peers_of[i]:
            rows.append(row(shown, "-", to_ns(o), None))
        for j in peers_of[i]:
            label = kinds[j][2]
            rows.append(row(shown, label, to_ns(o), to_ns(runs[j]),
                            goal_for(o["name"], runs[j]["name"]),
                            external=not SELF_PEER.search(label)))
    return rows


def ensure_inputs(build, bench_dir):
    inputs = os.path.join(build, "inputs")
    os.makedirs(inputs, exist_ok=True)
    words = os.path.join(inputs, "words.txt")
    numbers = os.path.join(inputs, "numbers.txt")
    generator = os.path.join(bench_dir, "gen_inputs")
    if not os.path.exists(words) or os.path.getsize(words) < WORDS_BYTES:
        subprocess.run([generator, "words", words, str(WORDS_BYTES), str(WORDS_VOCABULARY)],
                       check=True)
    if not os.path.exists(numbers):
        subprocess.run([generator, "numbers", numbers, str(NUMBERS)], check=True)
    return words, numbers


def timed(command, stdin_path, out_path):
    with open(stdin_path or os.devnull, "rb") as stdin, open(out_path, "wb") as stdout:
        start = time.perf_counter()
        code = subprocess.run(command, stdin=stdin, stdout=stdout).returncode
        elapsed = time.perf_counter() - start
    if code != 0:
        raise RuntimeError(f"{' '.join(command)} exited with {code}")
    return elapsed * 1e9


def output_path(scratch, name, label):
    return os.path.join(scratch, re.sub(r"[^\w.-]+", "_", f"{name}.{label}") + ".out")


def compare_programs(name, ours, peers, stdin_path, scratch, runs):
    """Runs ours and each peer `runs` times, alternating, and keeps the best time of
    each. A peer whose output differs from ours fails its row."""
    commands = [("ours", ours)] + peers
    best = {label: math.inf for label, _ in commands}
    try:
        for _ in range(runs):
            for label, command in commands:
                out = output_path(scratch, name, label)
                best[label] = min(best[label], timed(command, stdin_path, out))
    except (OSError, RuntimeError) as failure:
        return [row(name, "-", None, None, note=f"failed: {failure}")]
    with open(output_path(scratch, name, "ours"), "rb") as f:
        expected = f.read()
    rows = []
    for label, _ in peers:
        with open(output_path(scratch, name, label), "rb") as f:
            same = f.read() == expected
        rows.append(row(name, label, best["ours"], best[label],
                        note="" if same else "output differs"))
    return rows


def programs(build, bench_dir, runs):
    words, numbers = ensure_inputs(build, bench_dir)
    examples = os.path.join(build, "examples")
    scratch = os.path.join(build, "inputs")
    rows = []
    rows += compare_programs("word_count", [os.path.join(examples, "word_count"), words], [
        ("absl::flat_hash_map", [os.path.join(bench_dir, "word_count_absl"), words]),
        ("std::unordered_map", [os.path.join(bench_dir, "word_count_std"), words]),
    ], None, scratch, runs)
    rows[-2]["goal"] = 1.2
    rows[-1]["goal"] = 0.8
    # Once keeping every line in the arena as the plain program does, once rewinding the arena
    # after each line: the difference is the cost of first touching the memory of 10 million
    # kept lines.
    line_sum = os.path.join(examples, "line_sum")
    line_sum_peer = ("fgets+strtoll", [os.path.join(bench_dir, "line_sum_peer")])
    rows += compare_programs("line_sum", [line_sum], [line_sum_peer], numbers, scratch, runs)
    rows[-1]["goal"] = 1.2
    rows += compare_programs("line_sum --rewind", [line_sum, "--rewind"], [line_sum_peer],
                             numbers, scratch, runs)
    rows[-1]["goal"] = 1.2
    parallel = os.path.join(examples, "parallel_count")
    rows += compare_programs("parallel_count 2 workers", [parallel, words, "2"], [
        ("1 worker", [parallel, words, "1"]),
    ], None, scratch, runs)
    rows[-1]["goal"] = 1 / 1.6
    rows[-1]["external"] = False
    return rows


# Drivers beside this script: (file, arguments before the build directory, whether its two
# figures are throughputs). Each prints NAME<TAB>ours<TAB>peer<TAB>goal lines; for throughputs
# the goal is the least ours/peer, shown here as the largest peer/ours.
DRIVERS = [("http_bench.sh", ["--table"], True)]


def drivers(source_bench, build):
    rows = []
    for script, arguments, throughput in DRIVERS:
        path = os.path.join(source_bench, script)
        print(f"  {script}", file=sys.stderr, flush=True)
        code, out, err = run_driver([path] + arguments + [build], build)
        for line in out.splitlines():
            fields = line.split("\t")
            try:
                name, ours, peer, goal = fields[0], float(fields[1]), float(fields[2]), fields[3]
                goal = float(goal) if goal.strip() else None
            except (IndexError, ValueError):
                continue
            if throughput:
                rows.append(row(name, "raw epoll", ours, peer, 1 / goal if goal else None,
                                rate=True))
            else:
                rows.append(row(name, "peer", ours, peer, goal))
        if code != 0:
            why = (err.strip().splitlines() or [f"status {code}"])[-1]
            rows.append(row(script, "-", None, None, note="failed: " + why))
    return rows


def run_driver(command, build, timeout=300):
    """Runs a driver in a process group of its own, its output going to files: servers it
    leaves behind can then neither hold a pipe open nor outlive it. Returns (status, out, err)."""
    out_path = os.path.join(build, "driver.out")
    err_path = os.path.join(build, "driver.err")
    with open(out_path, "w") as out, open(err_path, "w") as err:
        driver = subprocess.Popen(command, stdout=out, stderr=err, start_new_session=True)
        try:
            code = driver.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            code = "timed out"
        try:
            os.killpg(driver.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        driver.wait()
    with open(out_path) as out, open(err_path) as err:
        return code, out.read(), err.read()


def show_value(value, rate):
    if value is None:
        return "-"
    if rate:
        return f"{value:.0f} req/s"
    ns = value
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def print_table(rows):
    header = ["benchmark", "peer", "ours", "peer's", "ratio", "goal", "result"]
    lines = []
    for r in rows:
        ratio = ratio_of(r)
        verdict = ""
        if r["note"].startswith("failed") or r["note"] == "output differs":
            verdict = "FAIL"
        elif r["goal"] is not None and ratio is not None:
            verdict = "pass" if ratio <= r["goal"] else "FAIL"
        lines.append([r["name"], r["peer"], show_value(r["ours"], r["rate"]),
                      show_value(r["peer_value"], r["rate"]),
                      f"{ratio:.2f}" if ratio else "-",
                      f"<={r['goal']:.2f}" if r["goal"] is not None else "-",
                      (verdict + " " + r["note"]).strip()])
    widths = [max(len(str(x)) for x in col) for col in zip(header, *lines)]
    for cells in [header, ["-" * w for w in widths]] + lines:
        print("  ".join(str(c).ljust(w) for c, w in zip(cells, widths)).rstrip())

    best = {}
    for r in rows:
        if r["external"] and ratio_of(r):
            best[r["name"]] = min(best.get(r["name"], math.inf), ratio_of(r))
    if best:
        mean = math.exp(sum(math.log(v) for v in best.values()) / len(best))
        print(f"\ngeometric mean of ours/best peer over {len(best)} benchmarks: {mean:.2f}")
    failed = sum(1 for line in lines if line[-1].startswith("FAIL"))
    print(f"goals or checks failed: {failed}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="the bench build directory")
    parser.add_argument("--min-time", default="0.1", help="Google Benchmark minimum seconds")
    parser.add_argument("--repetitions", default="3", help="repetitions of each benchmark, "
                        "the fastest kept")
    # Each benchmark first runs unmeasured for this long. The first touch of memory the machine
    # has not used yet is slow, and without a warm-up the benchmark that runs first in a program
    # pays it for the others, which then reuse the pages it freed.
    parser.add_argument("--warmup", default="0.05", help="Google Benchmark warm-up seconds")
    parser.add_argument("--runs", type=int, default=5, help="runs of each program, best kept")
    parser.add_argument("--skip-google", action="store_true")
    parser.add_argument("--skip-programs", action="store_true")
    parser.add_argument("--skip-drivers", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    bench_dir = os.path.join(build, "bench")
    source_bench = os.path.dirname(os.path.abspath(__file__))
    rows = []
    if not args.skip_google:
        print("running the benchmark programs", file=sys.stderr)
        rows += google_benchmarks(bench_dir, args.min_time, args.warmup, args.repetitions)
    if not args.skip_programs:
        print("running the example programs beside their peers", file=sys.stderr)
        rows += programs(build, bench_dir, args.runs)
    if not args.skip_drivers:
        print("running the drivers", file=sys.stderr)
        rows += drivers(source_bench, build)
    print_table(rows)


if __name__ == "__main__":
    main()
