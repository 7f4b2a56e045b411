#!/usr/bin/env python3
"""Mutation testing of the host's portable code against the native tests.

Finds every place in the chosen product files where one of a few small faults can be made (a
comparison turned, a boolean or a condition inverted, a number off by one, a statement left out),
picks a fixed, seeded sample of them spread over the files, and for each one builds the native
tests with the fault in place and runs them. A fault that a test notices is killed; one that every
test passes survives; one that does not compile is stillborn and does not count.

  scripts/mutants.py [--count N] [--seed S] [--files GLOB ...] [--list] [--report FILE]

The same seed, count and files give the same choice on the same code, so a run before and after a
change of the tests compares like with like. Needs a configured native build (make native).
"""
import argparse
import fnmatch
import os
import random
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "native")
TESTS = os.path.join(BUILD, "bin", "keldran_tests")
DEFAULT_FILES = ["src/app/*.cpp", "src/config/*.cpp", "src/control/service_calls.cpp",
                 "src/install/*.cpp", "src/log/*.cpp", "src/service/*.cpp",
                 "src/supervision/*.cpp", "src/tray/*.cpp"]

# (name, pattern, replacement): each match of the pattern outside comments and strings is a site.
OPERATORS = [
    ("<= to <", re.compile(r"(?<![<>=!])<=(?!=)"), "<"),
    ("< to <=", re.compile(r"(?<![<>=!&])<(?![<=])(?=\s)"), "<="),
    (">= to >", re.compile(r"(?<![<>=!])>=(?!=)"), ">"),
    ("> to >=", re.compile(r"(?<![<>=!-])>(?![>=])(?=\s)"), ">="),
    ("== to !=", re.compile(r"(?<![<>=!])==(?!=)"), "!="),
    ("!= to ==", re.compile(r"!=(?!=)"), "=="),
    ("&& to ||", re.compile(r"&&"), "||"),
    ("|| to &&", re.compile(r"\|\|"), "&&"),
    ("true to false", re.compile(r"\btrue\b"), "false"),
    ("false to true", re.compile(r"\bfalse\b"), "true"),
    ("number plus one", re.compile(r"(?<![\w.])([1-9][0-9]*)(?![\w.])"), None),
    ("condition negated", re.compile(r"\bif \("), "if (!"),
]


def matching_paren(line, open_at):
    """Where the parenthesis that opens at open_at closes on the same line, or -1."""
    depth = 0
    for i in range(open_at, len(line)):
        depth += {"(": 1, ")": -1}.get(line[i], 0)
        if depth == 0:
            return i
    return -1
# A statement on a line of its own that can be left out: a call, an assignment or an increment.
STATEMENT = re.compile(r"^\s*(?:[\w:.\->\[\]()*&]+\s*(?:\+\+|--|[-+*/|&]?=)[^=].*|[\w:.\->]+\(.*\)|"
                       r"\+\+\w+|--\w+);\s*$")


def code_spans(line, in_block_comment):
    """The parts of a line that are code: comments and string and char literals are left out."""
    spans, i, start = [], 0, 0
    code = not in_block_comment
    while i < len(line):
        if not code:
            end = line.find("*/", i)
            if end < 0:
                return spans, True
            i = start = end + 2
            code = True
            continue
        c = line[i]
        if line.startswith("//", i):
            spans.append((start, i))
            return spans, False
        if line.startswith("/*", i):
            spans.append((start, i))
            code = False
            i += 2
            continue
        if c in "\"'":
            spans.append((start, i))
            j = i + 1
            while j < len(line) and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            i = start = j + 1
            continue
        i += 1
    if code:
        spans.append((start, len(line)))
    return spans, not code


def sites(path):
    """Every mutation site of a file: (line number, column, operator name, old, new)."""
    found = []
    in_comment = False
    with open(os.path.join(ROOT, path), encoding="latin-1") as f:
        lines = f.read().split("\n")
    for n, line in enumerate(lines):
        spans, in_comment_next = code_spans(line, in_comment)
        stripped = line.strip()
        skip = (stripped.startswith("#") or stripped.startswith("static_assert") or
                "constexpr" in line or stripped.startswith("template") or "#include" in line)
        in_comment = in_comment_next
        if skip:
            continue
        for name, pattern, replacement in OPERATORS:
            for start, end in spans:
                for m in pattern.finditer(line, start, end):
                    old = m.group(0)
                    if name == "condition negated":
                        close = matching_paren(line, m.end() - 1)
                        if close < 0:
                            continue
                        old = line[m.start():close + 1]
                        new = "if (!(" + line[m.end():close] + "))"
                    else:
                        new = str(int(old) + 1) if replacement is None else replacement
                    found.append((n, m.start(), name, old, new))
        # Only a statement that begins on its own line: not the tail of a longer one.
        previous = lines[n - 1].strip() if n > 0 else ""
        begins = previous == "" or previous.endswith((";", "{", "}")) or previous.startswith("//")
        if (begins and STATEMENT.match(line) and not stripped.startswith("return") and
                "{" not in line):
            found.append((n, 0, "statement left out", line, ""))
    return found


def apply(path, site):
    full = os.path.join(ROOT, path)
    with open(full, encoding="latin-1") as f:
        lines = f.read().split("\n")
    n, col, name, old, new = site
    line = lines[n]
    if name == "statement left out":
        lines[n] = ""
    else:
        assert line[col:col + len(old)] == old, (path, n, line)
        lines[n] = line[:col] + new + line[col + len(old):]
    with open(full, "w", encoding="latin-1") as f:
        f.write("\n".join(lines))
    return line


def run(cmd, timeout):
    try:
        r = subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=timeout)
        return r.returncode, r.stdout.decode("latin-1", "replace")
    except subprocess.TimeoutExpired:
        return None, "timed out"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--count", type=int, default=60)
    parser.add_argument("--seed", type=int, default=21)
    parser.add_argument("--files", nargs="*", default=DEFAULT_FILES)
    parser.add_argument("--list", action="store_true", help="only show the chosen mutants")
    parser.add_argument("--report", default=os.path.join(BUILD, "mutants.txt"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    args = parser.parse_args()

    files = sorted({p for g in args.files for p in
                    (os.path.relpath(os.path.join(d, f), ROOT)
                     for d, _, fs in os.walk(os.path.join(ROOT, "src")) for f in fs)
                    if fnmatch.fnmatch(p, g) and not p.endswith("_win32.cpp")})
    by_file = {p: sites(p) for p in files}
    rng = random.Random(args.seed)
    # The same share of each file's sites, at least one of each file that has any.
    total = sum(len(s) for s in by_file.values())
    chosen = []
    for path, found in by_file.items():
        k = max(1, round(args.count * len(found) / total)) if found else 0
        for site in rng.sample(found, min(k, len(found))):
            chosen.append((path, site))
    print(f"{len(chosen)} mutants of {total} sites in {len(files)} files (seed {args.seed})")
    if args.list:
        for path, (n, _, name, old, new) in chosen:
            print(f"{path}:{n + 1}: {name}: {old.strip()!r} -> {new.strip()!r}")
        return 0

    results = {"killed": 0, "survived": 0, "stillborn": 0}
    with open(args.report, "w") as report:
        for i, (path, site) in enumerate(chosen, 1):
            original = open(os.path.join(ROOT, path), encoding="latin-1").read()
            began = time.time()
            try:
                before = apply(path, site)
                code, out = run(["cmake", "--build", "--preset", "native", "--target",
                                 "keldran_tests", "-j", str(args.jobs)], 900)
                if code != 0:
                    verdict = "stillborn"
                else:
                    code, out = run([TESTS, "--gtest_brief=1"], 600)
                    verdict = "survived" if code == 0 else "killed"
            finally:
                with open(os.path.join(ROOT, path), "w", encoding="latin-1") as f:
                    f.write(original)
            results[verdict] += 1
            n, _, name, old, new = site
            line = f"{verdict:9} {path}:{n + 1}: {name}: {before.strip()}"
            print(f"[{i}/{len(chosen)} {time.time() - began:.0f}s] {line}", flush=True)
            report.write(line + "\n")
        live = results["killed"] + results["survived"]
        summary = (f"killed {results['killed']} of {live} ({100.0 * results['killed'] / max(live, 1):.1f} %), "
                   f"survived {results['survived']}, stillborn {results['stillborn']}")
        report.write(summary + "\n")
    print(summary)
    # Put the build back as the sources are.
    run(["cmake", "--build", "--preset", "native", "--target", "keldran_tests", "-j",
         str(args.jobs)], 900)
    return 0


if __name__ == "__main__":
    sys.exit(main())
