#!/usr/bin/env python3
"""Plants each fault of mutations.txt in turn, rebuilds the tests, runs those named for it and says whether they
caught it (-k: only the mutations whose id contains a word; --check: only that each snippet is found once); the
tree is restored after each one, also on Ctrl-C or a kill. Native tests build in build/mutations (Debug), win64
ones in build/win64 and run under Wine (tools/wine-run). Exit status 0 when every mutation run was caught."""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LIST = os.path.join(ROOT, "tests", "mutations", "mutations.txt")
BUILDS = {"native": ("build/mutations", "tests/marvik_tests"), "win64": ("build/win64", "tests/marvik_tests.exe")}
KEYS = ("id", "file", "find", "replace", "tests", "why")


def parse(path):
    """Blocks of 'key: value' lines separated by blank lines; '#' lines are comments."""
    mutations = []
    for block in re.split(r"\n\s*\n", open(path, encoding="utf-8").read()):
        lines = [line for line in block.splitlines() if line.strip() and not line.startswith("#")]
        m = {key: value for key, _, value in (line.partition(": ") for line in lines)}
        if lines and set(m) != set(KEYS):
            sys.exit(f"{path}: a block needs one line of each of {', '.join(KEYS)}: {lines[0]!r}")
        mutations += [m] if lines else []
    for m in mutations:
        m["find"], m["replace"] = m["find"].replace("<NL>", "\n"), m["replace"].replace("<NL>", "\n")
    return mutations


def where(m):
    """The build ('native' or 'win64') and the gtest filter of a mutation."""
    kind, sep, pattern = m["tests"].partition(" ")
    return (kind, pattern) if sep and kind in BUILDS else ("native", m["tests"])


def run(cmd, timeout, log):
    """cmd's exit status (-1 on a time-out: a mutation that makes a test hang is caught); its output logged."""
    started = time.time()
    try:
        p = subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        out, code = p.stdout.decode(errors="replace"), p.returncode
    except subprocess.TimeoutExpired as e:
        out, code = (e.stdout or b"").decode(errors="replace") + "\n(timed out)", -1
    with open(log, "a", encoding="utf-8") as f:
        f.write(f"$ {' '.join(cmd)}  ({time.time() - started:.1f} s, status {code})\n{out}\n")
    return code


def build(kind, log):
    folder, _ = BUILDS[kind]
    if kind == "native" and not os.path.exists(os.path.join(ROOT, folder, "CMakeCache.txt")):
        run(["cmake", "-S", ".", "-B", folder, "-DCMAKE_BUILD_TYPE=Debug"], 600, log)
    return run(["nice", "cmake", "--build", folder, "--target", "marvik_tests", "-j2"], 1200, log) == 0


def verdict(m, log):
    """Plants m, builds and runs its tests, restores the file whatever happens."""
    path = os.path.join(ROOT, m["file"])
    original = open(path, encoding="utf-8").read()
    kind, pattern = where(m)
    folder, exe = BUILDS[kind]
    cmd = (["tools/wine-run"] if kind == "win64" else []) + [
        os.path.join(folder, exe), "--gtest_filter=" + pattern, "--gtest_brief=1"]
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original.replace(m["find"], m["replace"]))
        with open(log, "a") as f:
            f.write(f"\n===== {m['id']}\n")
        if not build(kind, log):
            return "BUILD-FAILS"
        return "caught" if run(cmd, 180, log) != 0 else "SURVIVED"
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original)


def interrupted(*_):
    raise KeyboardInterrupt


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("-k", action="append", default=[], help="only mutations whose id contains this")
    ap.add_argument("--check", action="store_true", help="only check that every snippet is found once")
    ap.add_argument("--log", default=os.path.join(ROOT, "build", "mutations.log"))
    args = ap.parse_args()
    mutations = [m for m in parse(LIST) if not args.k or any(k in m["id"] for k in args.k)]

    ids = [m["id"] for m in mutations]
    bad = [f"{i}: id used twice" for i in set(ids) if ids.count(i) > 1]
    for m in mutations:
        found = open(os.path.join(ROOT, m["file"]), encoding="utf-8").read().count(m["find"])
        bad += [f"{m['id']}: {m['file']} holds the snippet {found} times: {m['find']!r}"] if found != 1 else []
    if bad or args.check:
        print("\n".join(bad) or f"{len(mutations)} mutations, every snippet found once")
        return 1 if bad else 0

    os.makedirs(os.path.dirname(args.log), exist_ok=True)
    open(args.log, "w").close()
    signal.signal(signal.SIGTERM, interrupted)  # a kill restores the tree as Ctrl-C does
    kinds = sorted({where(m)[0] for m in mutations})
    for kind in kinds:
        if not build(kind, args.log):
            sys.exit(f"the unmutated {kind} build fails: see {args.log}")
    results = []
    try:
        for n, m in enumerate(mutations, 1):
            started = time.time()
            results.append((m["id"], verdict(m, args.log)))
            print(f"[{n:3}/{len(mutations)}] {results[-1][1]:11} {m['id']:34} {m['tests']}  "
                  f"({time.time() - started:.0f} s)", flush=True)
    except KeyboardInterrupt:
        print("interrupted: the tree is restored", file=sys.stderr)
        return 130
    finally:
        for kind in kinds:
            build(kind, args.log)  # the restored sources built again
    missed = [f"  {v}: {i}" for i, v in results if v != "caught"]
    print(f"{len(results) - len(missed)} of {len(results)} caught", *missed, sep="\n")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
