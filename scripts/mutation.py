#!/usr/bin/env python3
"""Plants faults in the core, one at a time, and records which unit tests catch each.

  scripts/mutation.py generate [--count 48] [--seed 21] > scripts/mutants.tsv
  scripts/mutation.py run --build DIR [--mutants scripts/mutants.tsv] [--out FILE] [--only N,M]

`generate` picks lines of the core libraries (no platform, UI or command-line code) and one
small change for each: a comparison flipped, && and || swapped, a constant off by one, true
and false swapped. The list is kept in the repository so that runs before and after a change
to the tests plant the same faults; lines are found again by their text, not their number.

`run` builds the unit-test programs of DIR (configured like any build of this tree, sanitizers
not needed) with each fault in place, runs the unit tests of the programs the fault was
linked into (the same as `ctest -L unit` would catch, sooner), and writes one row per fault: its number, the outcome
(killed, survived, no-build, missing) and the tests that failed. The source is restored after
every fault, also when the script is interrupted.
"""

import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORE = ["audio", "base", "cleanup", "dictation", "dictionary", "history", "hotkey", "inject",
        "settings", "speech", "strings", "systemspeech"]

# (name, pattern, replacement): each is tried only outside string and character literals.
OPERATORS = [
    ("eq-ne", r" == ", " != "),
    ("ne-eq", r" != ", " == "),
    ("le-lt", r" <= ", " < "),
    ("ge-gt", r" >= ", " > "),
    ("lt-le", r" < ", " <= "),
    ("gt-ge", r" > ", " >= "),
    ("and-or", r" && ", " || "),
    ("or-and", r" \|\| ", " && "),
    ("true-false", r"\btrue\b", "false"),
    ("false-true", r"\bfalse\b", "true"),
    ("const+1", r"(?<![\w.])(\d+)(?![\w.'])", None),
]

SKIP = re.compile(r'^\s*(//|\*|/\*|#|static_assert|ZARN_DCHECK|template|using|namespace|case )|["\']|Log::|log\(\)|\.info\(|\.error\(|char \w+\[|std::array<|0x[0-9a-f]{8,}')


def core_files():
    for concept in CORE:
        folder = os.path.join(ROOT, "src", concept)
        for name in sorted(os.listdir(folder)):
            if name.endswith(".cpp"):
                yield os.path.join("src", concept, name)


def mutate(line, operator):
    name, pattern, replacement = operator
    match = re.search(pattern, line)
    if not match:
        return None
    if replacement is None:
        value = int(match.group(1))
        replacement = str(value + 1)
    return line[:match.start()] + replacement + line[match.end():]


def generate(count, seed):
    rng = random.Random(seed)
    candidates = []
    for path in core_files():
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            lines = [l.rstrip("\n") for l in f]
        stripped = [l.strip() for l in lines]
        for line in stripped:
            if not line or SKIP.search(line) or stripped.count(line) != 1:
                continue
            options = [op for op in OPERATORS if re.search(op[1], line)]
            if options:
                candidates.append((path, line, options))
    rng.shuffle(candidates)
    # Spread the sample over the files: at most three faults per file.
    per_file, chosen = {}, []
    for path, line, options in candidates:
        if per_file.get(path, 0) >= 3:
            continue
        operator = rng.choice(options)
        mutated = mutate(line, operator)
        if mutated and mutated != line:
            chosen.append((path, line, mutated, operator[0]))
            per_file[path] = per_file.get(path, 0) + 1
        if len(chosen) == count:
            break
    print("# file\toriginal line\tmutated line\toperator")
    for row in chosen:
        print("\t".join(row))


def load(mutants):
    rows = []
    with open(mutants, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            rows.append(line.rstrip("\n").split("\t"))
    return rows


def failed_tests(output):
    names, listing = [], False
    for line in output.splitlines():
        if "The following tests FAILED" in line:
            listing = True
        elif listing:
            m = re.match(r"\s*\d+ - (\S+)", line)
            if m:
                names.append(m.group(1))
    return names


def unit_tests(build):
    """Maps each unit-test executable to the numbers CTest gives its tests."""
    listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], check=True,
                             stdout=subprocess.PIPE, text=True)
    executables = {}
    for number, test in enumerate(json.loads(listing.stdout)["tests"], 1):
        labels = next((p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"), [])
        if "unit" in labels and test.get("command"):
            executables.setdefault(test["command"][0], []).append(number)
    return executables


def number_of(build, names):
    listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], check=True,
                             stdout=subprocess.PIPE, text=True)
    wanted = set(names)
    return [n for n, t in enumerate(json.loads(listing.stdout)["tests"], 1) if t["name"] in wanted]


def run_tests(build, numbers, timeout):
    """Runs the tests of those numbers; returns the names of those that failed."""
    tests = subprocess.run(["ctest", "--test-dir", build, "-j2", "--timeout", str(timeout),
                            "-I", "0,0,0," + ",".join(map(str, sorted(numbers)))],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return failed_tests(tests.stdout)


def run(build, mutants, out, only, timeout):
    rows = load(mutants)
    build = os.path.abspath(build)
    executables = unit_tests(build)
    targets = sorted({os.path.basename(e) for e in executables})
    make = ["cmake", "--build", build, "-j2", "--target", *targets]
    subprocess.run(make, check=True, stdout=subprocess.DEVNULL)
    # Tests that fail without any fault (a missing tool, say) cannot tell a fault apart.
    broken_names = run_tests(build, [n for ns in executables.values() for n in ns], timeout)
    if broken_names:
        print(f"failing without a fault, left out: {' '.join(broken_names)}", flush=True)
    broken = set(number_of(build, broken_names))
    results = []
    with open(out, "w", encoding="utf-8") as report:
        report.write("# n\toutcome\tfile\toperator\tseconds\tfailed tests\n")
        for n, (path, original, mutated, operator) in enumerate(rows, 1):
            if only and n not in only:
                continue
            started = time.time()
            full = os.path.join(ROOT, path)
            with open(full, encoding="utf-8") as f:
                text = f.read()
            lines = text.split("\n")
            hits = [i for i, l in enumerate(lines) if l.strip() == original]
            failed = []
            if len(hits) != 1:
                outcome = "missing"
            else:
                i = hits[0]
                lines[i] = lines[i][:len(lines[i]) - len(lines[i].lstrip())] + mutated
                try:
                    with open(full, "w", encoding="utf-8") as f:
                        f.write("\n".join(lines))
                    built = subprocess.run(make, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    # Only the test programs the fault was linked into can see it.
                    numbers = [n for e, ns in executables.items()
                               if os.path.exists(e) and os.path.getmtime(e) >= started for n in ns if n not in broken]
                    if built.returncode != 0:
                        outcome = "no-build"
                    elif not numbers:
                        outcome = "survived"
                    else:
                        failed = run_tests(build, numbers, timeout)
                        outcome = "killed" if failed else "survived"
                finally:
                    with open(full, "w", encoding="utf-8") as f:
                        f.write(text)
                    # Rebuilt at once, so the next fault's programs are told apart by their time.
                    subprocess.run(make, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            seconds = int(time.time() - started)
            results.append(outcome)
            report.write(f"{n}\t{outcome}\t{path}\t{operator}\t{seconds}\t{' '.join(failed)}\n")
            report.flush()
            print(f"{n:3} {outcome:9} {path} {operator} ({seconds} s, {len(failed)} failing)", flush=True)
    scored = [r for r in results if r in ("killed", "survived")]
    killed = results.count("killed")
    if scored:
        print(f"kill rate: {killed}/{len(scored)} = {100 * killed / len(scored):.1f} %"
              f" ({results.count('no-build')} did not build, {results.count('missing')} missing)")


def main():
    # A stopped run still restores the source (the finally blocks run on SystemExit).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    g = sub.add_parser("generate")
    g.add_argument("--count", type=int, default=48)
    g.add_argument("--seed", type=int, default=21)
    r = sub.add_parser("run")
    r.add_argument("--build", required=True)
    r.add_argument("--mutants", default=os.path.join(ROOT, "scripts", "mutants.tsv"))
    r.add_argument("--out", default="mutation-results.tsv")
    r.add_argument("--only", default="")
    r.add_argument("--timeout", type=int, default=60, help="seconds a test may take; a test that hangs counts as failing")
    args = parser.parse_args()
    if args.command == "generate":
        generate(args.count, args.seed)
    else:
        only = {int(x) for x in args.only.split(",") if x}
        run(args.build, args.mutants, args.out, only, args.timeout)


if __name__ == "__main__":
    sys.exit(main())
