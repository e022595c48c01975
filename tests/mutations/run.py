#!/usr/bin/env python3
"""Applies each fault of mutations.txt to the sources in turn, rebuilds the
tests, runs the tests named for it and records whether they caught it. The
tree is restored after every mutation, also on Ctrl-C or a kill.

  tests/mutations/run.py                 every mutation
  tests/mutations/run.py -k rc4 -k hash  those whose id contains a word
  tests/mutations/run.py --check         only that every snippet is found once

Native tests build in build/mutations (Debug); win64 tests use build/win64
and run under Wine (tools/wine-run). Exit status 0 when every mutation ran
was caught."""
import argparse
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LIST = os.path.join(ROOT, "tests", "mutations", "mutations.txt")
BUILDS = {
    "native": ("build/mutations", "tests/marvik_tests"),
    "win64": ("build/win64", "tests/marvik_tests.exe"),
}


def parse(path):
    """Blocks of 'key: value' lines separated by blank lines; '#' lines are comments."""
    mutations, block = [], {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("#"):
                continue
            if not line.strip():
                if block:
                    mutations.append(block)
                block = {}
                continue
            key, sep, value = line.partition(": ")
            if not sep or key not in ("id", "file", "find", "replace", "tests", "why"):
                sys.exit(f"{path}:{number}: not a 'key: value' line: {line!r}")
            block.setdefault("line", number)
            block[key] = value.replace("<NL>", "\n") if key in ("find", "replace") else value
    if block:
        mutations.append(block)
    for m in mutations:
        missing = {"id", "file", "find", "replace", "tests", "why"} - m.keys()
        if missing:
            sys.exit(f"{path}:{m['line']}: missing {', '.join(sorted(missing))}")
    return mutations


def where(m):
    """The build ('native' or 'win64') and the gtest filter of a mutation."""
    kind, sep, pattern = m["tests"].partition(" ")
    return (kind, pattern) if sep and kind in BUILDS else ("native", m["tests"])


def run(cmd, timeout, log):
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


def test(kind, pattern, log):
    folder, exe = BUILDS[kind]
    cmd = [os.path.join(folder, exe), "--gtest_filter=" + pattern, "--gtest_brief=1"]
    if kind == "win64":
        cmd = ["tools/wine-run"] + cmd
    return run(cmd, 180, log)  # a mutation that makes a test hang is caught by the time-out


def interrupted(*_):
    raise KeyboardInterrupt


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("-k", action="append", default=[], help="only mutations whose id contains this")
    ap.add_argument("--check", action="store_true", help="only check that every snippet is found once")
    ap.add_argument("--log", default=os.path.join(ROOT, "build", "mutations.log"))
    args = ap.parse_args()
    mutations = [m for m in parse(LIST) if not args.k or any(k in m["id"] for k in args.k)]

    bad = []
    for m in mutations:
        text = open(os.path.join(ROOT, m["file"]), encoding="utf-8").read()
        if text.count(m["find"]) != 1:
            bad.append(f"{m['id']}: {m['file']} holds the snippet {text.count(m['find'])} times: {m['find']!r}")
    ids = [m["id"] for m in mutations]
    bad += [f"{i}: id used twice" for i in set(ids) if ids.count(i) > 1]
    if bad or args.check:
        print("\n".join(bad) or f"{len(mutations)} mutations, every snippet found once")
        return 1 if bad else 0

    os.makedirs(os.path.dirname(args.log), exist_ok=True)
    open(args.log, "w").close()
    # A kill restores the tree as Ctrl-C does.
    signal.signal(signal.SIGTERM, interrupted)
    results = []
    kinds = {where(m)[0] for m in mutations}
    for kind in sorted(kinds):
        if not build(kind, args.log):
            sys.exit(f"the unmutated {kind} build fails: see {args.log}")
    try:
        for n, m in enumerate(mutations, 1):
            path = os.path.join(ROOT, m["file"])
            original = open(path, encoding="utf-8").read()
            kind, pattern = where(m)
            started = time.time()
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original.replace(m["find"], m["replace"]))
                with open(args.log, "a") as f:
                    f.write(f"\n===== {m['id']}\n")
                if not build(kind, args.log):
                    verdict = "BUILD-FAILS"
                else:
                    verdict = "caught" if test(kind, pattern, args.log) != 0 else "SURVIVED"
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
            results.append((m["id"], verdict))
            print(f"[{n:3}/{len(mutations)}] {verdict:11} {m['id']:34} {kind} {pattern}  ({time.time() - started:.0f} s)",
                  flush=True)
    except KeyboardInterrupt:
        print("interrupted: the tree is restored", file=sys.stderr)
        return 130
    finally:
        for kind in sorted(kinds):
            build(kind, args.log)  # the restored sources built again
    caught = sum(v == "caught" for _, v in results)
    print(f"{caught} of {len(results)} caught")
    for i, v in results:
        if v != "caught":
            print(f"  {v}: {i}")
    return 0 if caught == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
