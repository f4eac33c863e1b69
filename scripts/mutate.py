#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Mutation probe: does the suite notice a small fault in the program code?

Makes small faults (mutants) in the program files under burnimg/,
lcrmerge/ and lcrtool/, one at a time: a comparison moved to its neighbour
(< <=, > >=, == !=), a constant compared with == or != raised by one, && and
|| swapped, a returned 0, -1, 1, true or false changed, a + 1 or - 1 made
+ 2 or - 2, a call statement dropped. For each it rebuilds incrementally and
runs the native suite, then, when that passes, the sanitizer suite, as CI
does: each GoogleTest program once with all its tests, then ctest's other
tests. A mutant that both suites pass survived: a missing test, dead code, or
a change nobody can see, which tests/mutants-equivalent.txt then lists with
its reason. A mutant that does not build counts apart from the others.

Each survivor is printed as FILE:LINE: OLD -> NEW, then a summary, overall
and by folder. Exit status: 0 when nothing survived, 1 when something did,
2 when the probe could not run (a usage error, a suite that fails without a
mutant) or was stopped. Ctrl-C stops the run and puts the file back. Leave
the program files alone while it runs: it writes each back as it read it.
"""

import argparse
import json
import os
import random
import re
import shutil
import signal
import stat
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FOLDERS = ("burnimg", "lcrmerge", "lcrtool")
EQUIVALENTS = ROOT / "tests" / "mutants-equivalent.txt"

COMPARISON = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
LOGICAL = {"&&": "||", "||": "&&"}
RETURNED = {"0": "-1", "-1": "0", "1": "0", "true": "false", "false": "true"}
# Operators that begin with a comparison's or a logical operator's characters
# but are something else; the longest match wins.
OTHER_OPERATORS = ("<<=", ">>=", "<=>", "->*", "<<", ">>", "->", "&=", "|=")
# Words after which a name followed by "(" is no call statement.
NOT_CALLS = {"return", "if", "while", "for", "switch", "sizeof", "static_assert", "case", "do",
             "else", "delete", "new", "throw", "alignas", "alignof", "decltype", "typeid", "using",
             "typedef", "goto", "operator", "template"}
# A dropped call statement longer than this many lines is left alone.
MAX_CALL_LINES = 8


@dataclass
class Mutant:
    file: str       # path from the project's root
    line: int       # 1-based, the first line changed
    col: int        # where the change starts, for a stable order
    old: str        # the changed text as it stands, with a little context
    new: str        # the same text in the mutant
    kind: str
    lines: list     # the mutant's lines from `line` on, replacing as many

    def __str__(self):
        return f"{self.file}:{self.line}: {self.old} -> {self.new}"

    def folder(self):
        return self.file.split("/", 1)[0] + "/"

    def key(self):
        return (self.file, self.line, self.col, self.kind)


# --- Finding the sites -------------------------------------------------------

def mask_code(text):
    """The text with comments, the insides of string and character literals
    and preprocessor lines turned into blanks, line breaks kept, so that an
    offset means the same character in both."""
    out = list(text)
    n = len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    i = 0
    line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if c in " \t":
            i += 1
            continue
        if line_start and c == "#":
            end = i
            while True:
                end = text.find("\n", end)
                if end < 0:
                    end = n
                    break
                if text[end - 1] != "\\":
                    break
                end += 1
            blank(i, end)
            i = end
            continue
        line_start = False
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            blank(i, end)
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            blank(i, end)
            i = end
        elif c == '"' and i > 0 and text[i - 1] == "R" and not re.match(r"\w", text[i - 2:i - 1] or " "):
            delim = text[i + 1:text.index("(", i)]
            end = text.index(")" + delim + '"', i) + len(delim) + 1
            blank(i + 1, end)
            i = end + 1
        elif c in "\"'" and not (c == "'" and i > 0 and text[i - 1].isalnum()):
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i + 1, j)
            i = j + 1
        else:
            i += 1
    return "".join(out)


def template_brackets(code):
    """Offsets of the < and > of the line that enclose template arguments
    (static_cast<T>, std::array<T, N>, template <class T>) rather than
    compare: after a name, closed on the same line around nothing but
    names, numbers, commas, stars, single ampersands and balanced
    parentheses."""
    found = set()
    for m in re.finditer(r"(\w+)\s*<(?![<=])", code):
        if m.group(1) == "operator" or m.group(1)[0].isdigit():
            continue
        start = m.end() - 1
        depth, parens, k = 0, 0, start
        while k < len(code):
            c = code[k]
            if c == "<":
                depth += 1
            elif c == ">":
                depth -= 1
                if depth == 0:
                    break
            elif c == "(":
                parens += 1
            elif c == ")":
                parens -= 1
                if parens < 0:
                    break
            elif not (c.isalnum() or c in " _:,*&[]") or code.startswith("&&", k):
                break
            k += 1
        if k < len(code) and code[k] == ">" and depth == 0 and parens == 0:
            found.update(i for i in range(start, k + 1) if code[i] in "<>")
    return found


def snippet(orig, mutated, a, b, delta, left):
    """The change at orig[a:b] with whole blank-separated words around it,
    `left` more words before it, widened until it occurs once on the line:
    (old, new)."""
    words = [(m.start(), m.end()) for m in re.finditer(r"\S+", orig)]
    first = next(k for k, (s, e) in enumerate(words) if e > a)
    last = next((k for k, (s, e) in reversed(list(enumerate(words))) if s < b), first)
    last = max(last, first)
    first = max(first - left, 0)
    # An operator standing alone takes the operand on each side.
    if words[first][0] == a and words[last][1] == b:
        first, last = max(first - 1, 0), min(last + 1, len(words) - 1)
    while True:
        s, e = words[first][0], words[last][1]
        if orig.count(orig[s:e]) == 1 or (first == 0 and last == len(words) - 1):
            return orig[s:e], mutated[s:e + delta]
        first, last = max(first - 1, 0), min(last + 1, len(words) - 1)


def replacement(path, lines, index, a, b, new, kind, out, left=0):
    """Records the mutant that puts `new` in place of lines[index][a:b]."""
    orig = lines[index]
    mutated = orig[:a] + new + orig[b:]
    old_text, new_text = snippet(orig.rstrip("\n"), mutated.rstrip("\n"), a, b, len(new) - (b - a), left)
    out.append(Mutant(path, index + 1, a, old_text, new_text, kind, [mutated]))


def line_sites(path, lines, codes, index, out):
    """The operator, returned-constant and plus-one mutants of one line."""
    code = codes[index]
    if code.strip().startswith("static_assert"):
        return
    templates = template_brackets(code)
    i = 0
    while i < len(code):
        other = next((op for op in OTHER_OPERATORS if code.startswith(op, i)), None)
        if other:
            i += len(other)
            continue
        op = code[i:i + 2] if code[i:i + 2] in COMPARISON or code[i:i + 2] in LOGICAL else code[i]
        if op in LOGICAL:
            replacement(path, lines, index, i, i + 2, LOGICAL[op], "logical", out)
        elif op in COMPARISON and not (len(op) == 1 and i in templates):
            replacement(path, lines, index, i, i + len(op), COMPARISON[op], "comparison", out)
            constant = re.compile(r"(\s*)(\d+)([uUlL]*)(?![\w.'])").match(code, i + len(op))
            if op in ("==", "!=") and constant:
                replacement(path, lines, index, i, constant.end(), op + constant.group(1) +
                            str(int(constant.group(2)) + 1) + constant.group(3), "constant", out, left=1)
        i += len(op)

    m = re.search(r"\breturn\s+(-?\w+)\s*;", code)
    if m and m.group(1) in RETURNED:
        replacement(path, lines, index, m.start(1), m.end(1), RETURNED[m.group(1)], "return", out, left=1)

    # A binary + 1 or - 1 (an operand before it, not `return -1`), or += 1.
    for m in re.finditer(r"([\w)\]])(\s*)([+-]=?\s*)1(?![\w.'])", code):
        before = re.search(r"(\w+)$", code[:m.start(1) + 1])
        if before and before.group(1) in ("return", "case"):
            continue
        replacement(path, lines, index, m.start(3), m.end(), m.group(3) + "2", "plus-one", out, left=1)


CALL = re.compile(r"(\(void\)\s*)?(?:[A-Za-z_]\w*\s*(?:::|\.|->)\s*)*([A-Za-z_]\w*)\s*\(")


def call_site(path, lines, codes, index, depth, out):
    """A statement that is one call, from this line on, dropped."""
    code = codes[index]
    m = CALL.match(code.strip())
    if not m or depth <= 0 or m.group(2) in NOT_CALLS:
        return
    first = re.match(r"[A-Za-z_]\w*", code.strip()).group(0)
    if first in NOT_CALLS:
        return
    # The line before ends a statement or opens a block or a branch;
    # otherwise this line goes on an expression.
    prev = next((codes[k].rstrip() for k in range(index - 1, -1, -1) if codes[k].strip()), "")
    ends = prev.endswith((";", "{", "}", ")", ":")) or re.search(r"\b(else|do)$", prev)
    if prev and not ends:
        return
    parens = 0
    start = len(code) - len(code.lstrip()) + m.end() - 1
    for k in range(index, min(index + MAX_CALL_LINES, len(codes))):
        text = codes[k]
        for j in range(start if k == index else 0, len(text)):
            if text[j] == "(":
                parens += 1
            elif text[j] == ")":
                parens -= 1
                if parens == 0:
                    if text[j + 1:].strip() != ";":
                        return
                    indent = lines[index][:len(code) - len(code.lstrip())]
                    kept = [indent + "(void)0;\n"] + ["\n"] * (k - index)
                    old = lines[index].strip() + (" ..." if k > index else "")
                    out.append(Mutant(path, index + 1, len(indent), old, "(void)0;", "call", kept))
                    return


def find_sites(path):
    text = (ROOT / path).read_text(encoding="utf-8", errors="surrogateescape")
    lines = text.splitlines(keepends=True)
    codes = mask_code(text).splitlines(keepends=True)
    out = []
    depth = 0
    for index, code in enumerate(codes):
        line_sites(path, lines, codes, index, out)
        call_site(path, lines, codes, index, depth, out)
        depth += code.count("{") - code.count("}")
    return out


def program_files():
    return sorted(str(p.relative_to(ROOT)) for folder in FOLDERS for p in (ROOT / folder).rglob("*")
                  if p.suffix in (".cpp", ".h"))


def spread_sample(sites, count, seed):
    """`count` sites drawn at random, each file's share in proportion to its
    sites and at least one, so that a sample reaches every file. Each file
    draws with a seed of its own, so that an edit of one file leaves the
    draws of the others as they were (but for a share that moves by one)."""
    by_file = {}
    for site in sites:
        by_file.setdefault(site.file, []).append(site)
    quota = {f: max(1, count * len(s) // len(sites)) for f, s in by_file.items()}
    by_remainder = sorted(by_file, key=lambda f: count * len(by_file[f]) % len(sites), reverse=True)
    for f in by_remainder:
        if sum(quota.values()) >= count:
            break
        quota[f] += quota[f] < len(by_file[f])
    chosen = [s for f in sorted(by_file)
              for s in random.Random(f"{seed}:{f}").sample(by_file[f], min(quota[f], len(by_file[f])))]
    return sorted(chosen, key=lambda s: (s.file, s.line, s.col))


# --- The list of equivalent mutants -------------------------------------------

ENTRY = re.compile(r"^(?P<file>[^:\s]+):(?P<line>\d+): (?P<change>.*?)  # (?P<reason>.*)$")


def read_equivalents(sites):
    """The keys of the sites that tests/mutants-equivalent.txt lists, and
    warnings for the entries that match no site. An entry names a site by
    its file, its change (OLD -> NEW, as the probe prints it) and its line;
    when the line has moved, the one site of the file with that change is
    taken, and when there are several, none."""
    if not EQUIVALENTS.exists():
        return set(), []
    by_change = {}
    for site in sites:
        by_change.setdefault((site.file, site.old, site.new), []).append(site)
    listed, stale = set(), []
    for number, raw in enumerate(EQUIVALENTS.read_text().splitlines(), 1):
        if not raw.strip() or raw.startswith("#"):
            continue
        where = f"{EQUIVALENTS.relative_to(ROOT)}:{number}"
        m = ENTRY.match(raw)
        if not m:
            stale.append(f"{where}: not FILE:LINE: OLD -> NEW  # REASON")
            continue
        found = None
        # OLD and NEW may hold " -> " themselves; the split that names a
        # site is the one meant.
        for split in re.finditer(" -> ", m.group("change")):
            old, new = m.group("change")[:split.start()], m.group("change")[split.end():]
            candidates = by_change.get((m.group("file"), old, new), [])
            found = next((s for s in candidates if s.line == int(m.group("line"))), None)
            if not found and len(candidates) == 1:
                found = candidates[0]
                stale.append(f"{where}: the mutant is now at line {found.line}")
            if found:
                break
        if found:
            listed.add(found.key())
        else:
            stale.append(f"{where}: no such mutant now (or several after the line moved)")
    return listed, stale


def read_results(path):
    """The outcomes a --results file holds, by mutant as printed; the last
    line of a mutant counts."""
    recorded = {}
    if path and path.exists():
        for line in path.read_text().splitlines():
            outcome, _, mutant = line.partition("\t")
            recorded[mutant] = outcome
    return recorded


# --- Running ------------------------------------------------------------------

class Stop(Exception):
    pass


def on_signal(signum, frame):
    raise Stop(signal.Signals(signum).name)


def run(cmd):
    """Runs `cmd` in a process group of its own, so that a stop ends the
    compilers and tests under it too: (status, output)."""
    p = subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         start_new_session=True, text=True, errors="replace")
    try:
        out, _ = p.communicate()
    except BaseException:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        raise
    return p.returncode, out


def configure(build_dir, preset):
    """Configures a build of the probe's own, with the preset's settings
    but built for turnaround: Ninja where the machine has it, and no debug
    information, which a mutant's outcome does not need. (lld would link
    faster, but its copy relocations define stdio's names in the program,
    which the global-symbol test refuses.)"""
    if (build_dir / "CMakeCache.txt").exists():
        return True
    print(f"configuring {build_dir} (preset {preset})", file=sys.stderr)
    quick = ["-DCMAKE_CXX_FLAGS_DEBUG=-O0"]
    if shutil.which("ninja"):
        quick += ["-G", "Ninja"]
    status, out = run(["cmake", "--preset", preset, "-B", str(build_dir)] + quick)
    if status != 0:
        print(out, file=sys.stderr)
    return status == 0


def test_programs(build_dir):
    """The GoogleTest programs that ctest runs one test at a time, each with
    its working folder, its environment and whether it starts the built
    programs (label "programs"), and the names of ctest's other tests:
    ({program: (folder, environment, starts)}, [name])."""
    shown = subprocess.run(["ctest", "--test-dir", str(build_dir), "--show-only=json-v1"],
                           capture_output=True, text=True)
    programs, others = {}, []
    if shown.returncode != 0:
        return programs, others
    for test in json.loads(shown.stdout).get("tests", []):
        command = test.get("command") or []
        if not any(a.startswith("--gtest_filter") for a in command):
            others.append(test["name"])
            continue
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        programs.setdefault(command[0], (props.get("WORKING_DIRECTORY", str(build_dir)),
                                         props.get("ENVIRONMENT", []), "programs" in props.get("LABELS", [])))
    return programs, others


def quick_run(build_dir, args, since):
    """Runs each test program once with all its tests, `args.jobs` at a
    time, and stops at the first that fails: the name of that program, or
    None when all pass. Far quicker than ctest's one process per test. A
    program that the build did not link again after `since` (a time, or
    None for all) and that starts no built program cannot see the mutant,
    and is left out."""
    # The programs the build has just linked again come first: the mutant
    # is in them, and one of them most likely fails.
    waiting = sorted(((program, how) for program, how in args.programs[build_dir][0].items()
                      if since is None or how[2] or os.stat(program).st_mtime >= since),
                     key=lambda p: -os.stat(p[0]).st_mtime)
    running = []
    failed = None
    try:
        while (waiting or running) and not failed:
            while waiting and len(running) < args.jobs:
                program, (folder, env, _) = waiting.pop(0)
                environment = dict(os.environ, **dict(e.split("=", 1) for e in env))
                running.append((program, time.monotonic(), subprocess.Popen(
                    [program, "--gtest_brief=1", "--gtest_fail_fast"], cwd=folder, env=environment, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL, start_new_session=True)))
            time.sleep(0.05)
            for entry in list(running):
                program, begun, p = entry
                # A mutant that hangs a test takes a few times the program's
                # time without one, as the baseline run measured it.
                took = time.monotonic() - begun
                timed_out = took > 10 + 3 * args.durations.get(program, args.timeout)
                if p.poll() is None and not timed_out:
                    continue
                running.remove(entry)
                if timed_out:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
                if timed_out or p.returncode != 0:
                    failed = f"{Path(program).name} ({'timed out' if timed_out else 'failed'})"
                elif program not in args.durations:
                    args.durations[program] = took
    finally:
        for _, _, p in running:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGKILL)
            p.wait()
    return failed


def suite(build_dir, args, every_program=False):
    """Builds and tests one build folder: ("built-not", output),
    ("failed", first failing test) or ("passed", "")."""
    since = None if every_program else time.time() - 1
    status, out = run(["cmake", "--build", str(build_dir), "-j", str(args.jobs)])
    if status != 0:
        return "built-not", out
    if build_dir not in args.programs:
        args.programs[build_dir] = test_programs(build_dir)
    failed = quick_run(build_dir, args, since)
    if failed:
        return "failed", failed
    # Then ctest runs the tests that are no GoogleTest test.
    others = args.programs[build_dir][1]
    if not others:
        return "passed", ""
    status, out = run(["ctest", "--test-dir", str(build_dir), "--stop-on-failure", "--no-tests=error",
                       "-j", str(args.jobs), "--timeout", str(args.timeout),
                       "-R", "^(" + "|".join(re.escape(n) for n in others) + ")$"])
    if status == 0:
        return "passed", ""
    m = (re.search(r"tests FAILED:\s*\n\s*\d+ - (\S+) \((.*?)\)", out) or
         re.search(r"Test\s+#\d+: (\S+) [^\n]*?\*\*\*(?!Skipped)([^\n]*?)\s+[\d.]+ sec", out))
    return "failed", f"{m.group(1)} ({m.group(2).strip()})" if m else "ctest failed"


# Device nodes the tests write to. A mutant of the output code may replace
# one by a regular file, which would fail every later run; it is made again.
DEVICES = {"/dev/full": (1, 7), "/dev/null": (1, 3)}


def restore_devices():
    for path, (major, minor) in DEVICES.items():
        try:
            if stat.S_ISCHR(os.lstat(path).st_mode):
                continue
            os.remove(path)
        except FileNotFoundError:
            pass
        except OSError as e:
            print(f"warning: {path} is no device and stays so: {e}", file=sys.stderr)
            continue
        print(f"warning: {path} was replaced by the mutant; made again", file=sys.stderr)
        try:
            os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(major, minor))
            os.chmod(path, 0o666)
        except OSError as e:
            print(f"warning: {path} cannot be made again: {e}", file=sys.stderr)


def try_mutant(mutant, args):
    """Puts the mutant in place, runs the suites and puts the file back:
    ("killed", how), ("built-not", how) or ("survived", "")."""
    path = ROOT / mutant.file
    original = path.read_bytes()
    lines = original.decode("utf-8", errors="surrogateescape").splitlines(keepends=True)
    at = mutant.line - 1
    lines[at:at + len(mutant.lines)] = mutant.lines
    try:
        path.write_bytes("".join(lines).encode("utf-8", errors="surrogateescape"))
        for build_dir, name in ((args.build_dir, "native"), (args.asan_build_dir, "sanitizer")):
            outcome, how = suite(build_dir, args)
            if outcome == "built-not":
                warning = re.search(r"error: .*", how)
                return "built-not", f"{name} build: {warning.group(0) if warning else 'failed'}"
            if outcome == "failed":
                return "killed", f"{name} suite: {how}"
        return "survived", ""
    finally:
        # The original bytes, and a time after the mutant's build, so that the
        # next build compiles the file again; a second Ctrl-C waits for it.
        stops = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
        signal.pthread_sigmask(signal.SIG_BLOCK, stops)
        path.write_bytes(original)
        os.utime(path)
        restore_devices()
        signal.pthread_sigmask(signal.SIG_UNBLOCK, stops)


def summary(name, results, skipped):
    counts = {k: sum(1 for r in results if r == k) for k in ("killed", "built-not", "survived")}
    compiled = counts["killed"] + counts["survived"]
    share = f" ({100 * counts['killed'] // compiled}% of compiled killed)" if compiled else ""
    return (f"{name}: {len(results)} run, {counts['killed']} killed, {counts['built-not']} did not compile, "
            f"{counts['survived']} survived{share}; {skipped} skipped as equivalent")


def main():
    parser = argparse.ArgumentParser(
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Mutation probe: puts one small fault at a time into the program code\n"
                    "(burnimg/, lcrmerge/, lcrtool/), rebuilds incrementally, runs the native\n"
                    "and then the sanitizer suite, and lists the faults that no test notices.",
        epilog="Faults: < <= > >= == != to the neighbour, the constant of == or != plus one,\n"
               "&& ||, a returned 0 -1 1 true false, + 1 - 1 to 2, a call statement dropped.\n"
               "Mutants listed in tests/mutants-equivalent.txt are skipped. Exit status 0\n"
               "when none survived, 1 when some did, 2 when the probe could not run or\n"
               "was stopped.\n"
               "A developer tool, not a CI stage: run it on the files you change, e.g.\n"
               "  scripts/mutate.py --files lcrmerge/output.cpp --count 20 --seed 1")
    parser.add_argument("--files", nargs="+", metavar="PATH", help="only these program files")
    parser.add_argument("--count", type=int, metavar="K",
                        help="a random sample of K sites, spread over the files in proportion, "
                             "at least one each (default: every site)")
    parser.add_argument("--seed", type=int, default=0, metavar="N", help="seed of the sample (default 0)")
    parser.add_argument("--list", action="store_true", help="print the sites, one a line, and run nothing")
    parser.add_argument("--build-dir", type=Path, default=Path("build/mutate-dev"), metavar="DIR",
                        help="native build, configured with preset dev when missing "
                             "(default build/mutate-dev)")
    parser.add_argument("--asan-build-dir", type=Path, default=Path("build/mutate-asan"), metavar="DIR",
                        help="sanitizer build, preset asan (default build/mutate-asan)")
    parser.add_argument("--jobs", type=int, default=2, metavar="J",
                        help="parallel build and test jobs (default 2)")
    parser.add_argument("--timeout", type=int, default=60, metavar="SECONDS",
                        help="time one test may take (default 60)")
    parser.add_argument("--results", type=Path, metavar="FILE",
                        help="keep each outcome in FILE; a run with the same FILE runs again only "
                             "the mutants that survived or never ran, and sums up all of them")
    parser.add_argument("--no-baseline", action="store_true",
                        help="do not first check that both suites pass without a mutant")
    args = parser.parse_args()
    args.programs = {}  # each build's test programs, found once
    args.durations = {}  # each test program's time without a mutant

    files = program_files()
    every_site = [s for f in files for s in find_sites(f)]
    listed, warnings = read_equivalents(every_site)
    for warning in warnings:
        print(f"warning: {warning}", file=sys.stderr)
    if args.files:
        chosen = set()
        for name in args.files:
            path = Path(name).resolve()
            rel = str(path.relative_to(ROOT)) if path.is_relative_to(ROOT) else name
            if rel not in files:
                parser.error(f"{name}: not a program file under {', '.join(f + '/' for f in FOLDERS)}")
            chosen.add(rel)
        files = sorted(chosen)
    sites = [s for s in every_site if s.file in files]
    if args.count is not None and args.count < len(sites):
        sites = spread_sample(sites, args.count, args.seed)
    if args.list:
        for s in sites:
            print(f"{s}  [equivalent]" if s.key() in listed else s)
        return 0

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)
    args.build_dir, args.asan_build_dir = args.build_dir.resolve(), args.asan_build_dir.resolve()
    try:
        for build_dir, preset in ((args.build_dir, "dev"), (args.asan_build_dir, "asan")):
            if not configure(build_dir, preset):
                return 2
            if args.no_baseline:
                continue
            print(f"{build_dir}: building and testing without a mutant first", file=sys.stderr, flush=True)
            outcome, how = suite(build_dir, args, every_program=True)
            if outcome != "passed":
                print(f"{build_dir}: the suite fails without a mutant: {how}", file=sys.stderr)
                return 2
    except (KeyboardInterrupt, Stop):
        return 2

    # Each test program's time, kept beside the results for a later run
    # without the baseline.
    timings = Path(f"{args.results}.times") if args.results else None
    if timings and args.durations:
        timings.write_text(json.dumps(args.durations))
    elif timings and timings.exists():
        args.durations = json.loads(timings.read_text())
    recorded = read_results(args.results)
    to_run = [s for s in sites if s.key() not in listed and recorded.get(str(s)) in (None, "survived")]
    spent, ran, stopped = 0.0, 0, False
    listed_at = EQUIVALENTS.stat().st_mtime if EQUIVALENTS.exists() else None
    try:
        for n, mutant in enumerate(to_run, 1):
            # An entry added to the list while the probe runs counts from
            # the next mutant on.
            if EQUIVALENTS.exists() and EQUIVALENTS.stat().st_mtime != listed_at:
                listed_at = EQUIVALENTS.stat().st_mtime
                listed = read_equivalents(every_site)[0]
            if mutant.key() in listed:
                continue
            begun = time.monotonic()
            outcome, how = try_mutant(mutant, args)
            recorded[str(mutant)] = outcome
            if args.results:
                with args.results.open("a") as f:
                    f.write(f"{outcome}\t{mutant}\n")
            spent += time.monotonic() - begun
            ran += 1
            text = {"killed": "killed", "built-not": "did not compile", "survived": "SURVIVED"}[outcome]
            print(f"[{n}/{len(to_run)}] {mutant}  [{text}{': ' + how if how else ''}, "
                  f"{time.monotonic() - begun:.0f} s]", file=sys.stderr, flush=True)
    except (KeyboardInterrupt, Stop):
        print(f"stopped after {ran} mutants; the file is back as it was (build it again "
              "before running the suite)", file=sys.stderr)
        stopped = True
    if not stopped:
        # Leaves the builds as the code stands, not as the last mutant had it,
        # for whoever runs the suite next without building.
        for build_dir in (args.build_dir, args.asan_build_dir):
            run(["cmake", "--build", str(build_dir), "-j", str(args.jobs)])

    results = [(s, recorded[str(s)]) for s in sites if s.key() not in listed and str(s) in recorded]
    skipped = {s.folder(): 0 for s in sites}
    for s in sites:
        skipped[s.folder()] += s.key() in listed
    survivors = [m for m, r in results if r == "survived"]
    if survivors:
        print("surviving mutants:")
        for m in survivors:
            print(f"  {m}")
    print(summary("mutants", [r for _, r in results], sum(skipped.values())))
    for folder in sorted(skipped):
        print(summary(f"  {folder}", [r for m, r in results if m.folder() == folder], skipped[folder]))
    if ran:
        print(f"time: {spent:.0f} s, {spent / ran:.1f} s per mutant")
    return 2 if stopped else 1 if survivors else 0


if __name__ == "__main__":
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # for --list | head
    sys.exit(main())
