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

# Ours: names holding "qor" or an event-loop word, or ending in "_ours". Every other benchmark
# is a peer; a peer named "..._fresh" is a second run of ours (a fresh table against a churned
# one), so its row does not count towards the geometric mean.
OURS_NAME = re.compile(r"qor|EventLoop|EventDriven|_ours$", re.IGNORECASE)
SELF_PEER = re.compile(r"_fresh$", re.IGNORECASE)
PAIR_NOISE = {"bm", "qor", "peer", "std", "absl", "ours", "fresh"}

WORDS_BYTES = 80 << 20
WORDS_VOCABULARY = 250000
NUMBERS = 10000000


def tokens(name):
    base = base_name(name)
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


def google_benchmarks(bench_dir, min_time):
    rows = []
    programs = sorted(f for f in os.listdir(bench_dir) if f.endswith("_bench")
                      and os.access(os.path.join(bench_dir, f), os.X_OK))
    for program in programs:
        out = os.path.join(bench_dir, program + ".json")
        print(f"  {program}", file=sys.stderr, flush=True)
        result = subprocess.run([os.path.join(bench_dir, program), f"--benchmark_out={out}",
                                 "--benchmark_out_format=json",
                                 f"--benchmark_min_time={min_time}"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if result.returncode != 0 or not os.path.exists(out):
            why = (result.stderr.strip().splitlines() or [f"status {result.returncode}"])[-1]
            rows.append(row(program, "-", None, None, note="failed: " + why))
            continue
        with open(out) as f:
            runs = [b for b in json.load(f)["benchmarks"] if b.get("run_type") != "aggregate"]
        rows.extend(pair_runs(runs))
    return rows


def to_ns(run):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
    return run["real_time"] * scale


def pair_runs(runs):
    """Pairs every peer with one of ours of the same arguments: the one sharing most name
    words, ties going to the nearest one registered before it."""
    ours = [(i, r) for i, r in enumerate(runs) if OURS_NAME.search(base_name(r["name"]))]
    peers_of = {i: [] for i, _ in ours}
    for i, r in enumerate(runs):
        if OURS_NAME.search(base_name(r["name"])):
            continue
        args = r["name"][len(base_name(r["name"])):]
        same_args = [(j, o) for j, o in ours if o["name"][len(base_name(o["name"])):] == args]
        if r["name"] in PAIRS:
            same_args = [(j, o) for j, o in ours if o["name"] == PAIRS[r["name"]]] or same_args
        if not same_args:
            continue
        best = max(same_args, key=lambda jo: (len(tokens(jo[1]["name"]) & tokens(r["name"])),
                                             jo[0] < i, -abs(jo[0] - i)))
        peers_of[best[0]].append(r)
    rows = []
    for i, o in ours:
        name = o["name"].removeprefix("BM_").removesuffix("/real_time")
        if not peers_of[i]:
            rows.append(row(name, "-", to_ns(o), None))
        for p in peers_of[i]:
            rows.append(row(name, peer_label(p["name"]), to_ns(o), to_ns(p),
                            goal_for(o["name"], p["name"]),
                            external=not SELF_PEER.search(base_name(p["name"]))))
    return rows


def base_name(name):
    """The benchmark's name without its arguments (a template argument may hold a '/')."""
    depth = 0
    for at, c in enumerate(name):
        depth += (c == "<") - (c == ">")
        if c == "/" and depth == 0:
            return name[:at]
    return name


def peer_label(name):
    """A peer's template argument names it best; otherwise its name without the prefix."""
    if "<" in name and name.endswith(">"):
        return name[name.index("<") + 1:-1]
    args = name[len(base_name(name)):]
    inner = base_name(name)
    if "<" in inner and inner.endswith(">"):
        return inner[inner.index("<") + 1:-1] + args
    return name.removeprefix("BM_").removesuffix("/real_time")


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
    parser.add_argument("--min-time", default="0.2", help="Google Benchmark minimum seconds")
    parser.add_argument("--runs", type=int, default=3, help="runs of each program, best kept")
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
        rows += google_benchmarks(bench_dir, args.min_time)
    if not args.skip_programs:
        print("running the example programs beside their peers", file=sys.stderr)
        rows += programs(build, bench_dir, args.runs)
    if not args.skip_drivers:
        print("running the drivers", file=sys.stderr)
        rows += drivers(source_bench, build)
    print_table(rows)


if __name__ == "__main__":
    main()
