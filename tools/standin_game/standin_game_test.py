#!/usr/bin/env python3
"""The stand-in game does what it claims, under Wine, at this build's width:
the realistic mode's modules, detour, trampoline, JIT region, unload and late
load, and the cheat-like switches, as the game's report on itself shows them.
  standin_game_test.py <build folder of standin_game> <fixtures folder> <bits> <emulator...>"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

GAME_DIR, FIXTURES, BITS, EMULATOR = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
LATE_S, UNLOAD_S = 8, 4


def wait_for(predicate, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return predicate()


def parse(text):
    """{kind: [{key: value}]}; "path=" and "file=" take the rest of the line."""
    report = {}
    for line in text.splitlines():
        kind, _, rest = line.partition(" ")
        fields = {}
        while rest:
            if rest.startswith(("path=", "file=")):
                key, _, value = rest.partition("=")
                fields[key] = value
                break
            item, _, rest = rest.partition(" ")
            key, _, value = item.partition("=")
            if kind in ("query", "missing") and not value:
                fields["label"] = key
            else:
                fields[key] = value
        report.setdefault(kind, []).append(fields)
    return report


class Game:
    """standin_game.exe copied as iw3mp.exe into a folder of its own, with the
    DLLs its realistic mode loads and the plain fixture DLL."""

    def __init__(self, *args):
        self.folder = tempfile.mkdtemp(prefix="standin-")
        self.exe = os.path.join(self.folder, "iw3mp.exe")
        shutil.copy(os.path.join(GAME_DIR, "standin_game.exe"), self.exe)
        for dll in glob.glob(os.path.join(GAME_DIR, "*.dll")):
            shutil.copy(dll, self.folder)
        shutil.copy(os.path.join(FIXTURES, "marvik_plain.dll"), self.folder)
        self.stderr = open(os.path.join(self.folder, "stderr.txt"), "w+")
        self.proc = subprocess.Popen(EMULATOR + [self.exe, *args], stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.ready = wait_for(lambda: os.path.exists(self.exe + ".ready") or self.proc.poll() is not None, 90) and \
            os.path.exists(self.exe + ".ready")

    def errors(self):
        self.stderr.seek(0)
        return self.stderr.read()

    def read_report(self):
        with open(self.exe + ".report") as f:
            return parse(f.read())

    def report(self, *commands):
        """Sends the command lines, then "report"; the fresh report, parsed."""
        path = self.exe + ".report"
        if os.path.exists(path):
            os.remove(path)
        with open(self.exe + ".cmd", "w") as f:
            f.write("".join(c + "\n" for c in commands + ("report",)))
        if not wait_for(lambda: os.path.exists(path), 20):
            raise AssertionError("no report from the game: " + self.errors())
        return self.read_report()

    def close(self):
        if self.proc.poll() is None:
            with open(self.exe + ".exit", "w") as f:
                f.write("0\n")
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def module_names(report):
    return [m["path"].rsplit("\\", 1)[-1].lower() for m in report.get("module", [])]


def queried(report, label):
    return next(q for q in report["query"] if q["label"] == label)


def num(text):
    return int(text, 0)


class StandinGameTest(unittest.TestCase):
    def start(self, *args):
        game = Game(*args)
        self.addCleanup(game.close)
        self.assertTrue(game.ready, "the game did not start: " + game.errors())
        return game

    def assertCheatMemory(self, report):
        """What --rwx, --rwx-pe, --patch and --load leave (beside the realistic overlay's MinHook-like block)."""
        overlay = queried(report, "minhook_block")["region"] if "minhook" in report else None
        rwx = [r for r in report.get("region", [])
               if r["type"] == "private" and r["protect"] == "RWX" and r["base"] != overlay]
        self.assertEqual(sorted(r["bytes"][:6] for r in rwx), ["31C0C3", "4D5A90"], rwx)
        patch = report["patch"][0]
        self.assertTrue(patch["bytes"].startswith("EBFE"), patch)
        self.assertEqual(queried(report, "patch")["protect"], "RX")
        self.assertIn("marvik_plain.dll", module_names(report))

    def test_cheat_switches_at_start_and_by_command(self):
        by_switch = self.start("--rwx", "--rwx-pe", "--patch", "--load", "marvik_plain.dll", "--report")
        self.assertCheatMemory(by_switch.read_report())
        by_command = self.start()
        self.assertCheatMemory(by_command.report("rwx", "rwx-pe", "patch", "load marvik_plain.dll"))

    def test_realistic_game(self):
        game = self.start("--realistic", "--late-load-seconds", str(LATE_S), "--unload-seconds", str(UNLOAD_S))
        first = game.report()
        summary = first["summary"][0]
        self.assertEqual(num(summary["width"]), BITS)
        self.assertEqual(num(summary["wow64"]), 1 if BITS == 32 else 0)
        names = module_names(first)
        self.assertEqual(len(names), num(summary["modules"]))
        self.assertGreaterEqual(len(names), 110)
        own = sorted(os.path.basename(p).lower() for p in glob.glob(os.path.join(GAME_DIR, "game_*.dll")))
        self.assertGreaterEqual(len(own), 30)
        for name in own + ["overlay_render.dll", "av_guard.dll", "d3d9.dll", "dinput8.dll", "dsound.dll", "xinput1_3.dll"]:
            self.assertIn(name, names)
        paths = {m["path"].rsplit("\\", 1)[-1].lower(): m["path"].lower() for m in first["module"]}
        self.assertIn("\\windows\\", paths["d3d9.dll"])
        self.assertTrue(paths["game_renderer.dll"].startswith(paths["iw3mp.exe"].rsplit("\\", 1)[0]))

        # The overlay's detour: a jmp rel32 over the export, its trampoline
        # in a private block filled read-write and then made read-execute.
        detour, trampoline = first["detour"][0], first["trampoline"][0]
        target = num(detour["addr"])
        self.assertEqual(detour["bytes"][:2], "E9")
        self.assertEqual(queried(first, "detour_target")["module"], "d3d9.dll")
        self.assertEqual(detour["final_module"], "overlay_render.dll")
        block = queried(first, "trampoline")
        self.assertEqual((block["type"], block["protect"], block["alloc_protect"], block["module"]),
                         ("private", "RX", "RW", "-"))
        self.assertEqual(trampoline["bytes"], detour["saved"])
        self.assertEqual(num(trampoline["back"]), target + len(detour["saved"]) // 2)
        jump = queried(first, "detour_jump")
        if BITS == 64:  # through the relay stub in the same block, within reach of a rel32
            self.assertEqual(jump["region"], block["region"])
            self.assertLess(abs(num(jump["addr"]) - target), 1 << 31)
        else:  # straight into the overlay's module
            self.assertEqual((jump["module"], jump["type"]), ("overlay_render.dll", "image"))
        self.assertEqual(num(first["hook"][0]["calls"]), 1)
        # The anti-virus-like DLL hooked every injection-related export it aims at.
        self.assertEqual(first["guard"][0]["names"].split(","), [
            "NtWriteVirtualMemory", "NtQueueApcThread", "NtSetContextThread", "NtCreateThreadEx", "VirtualAllocEx",
            "WriteProcessMemory", "CreateRemoteThread", "OpenProcess"])

        # The JIT-like region: reserved executable, committed, made read-execute.
        jit = first["jit"][0]
        self.assertEqual((num(jit["functions"]), num(jit["correct"])), (8, 8))
        region = queried(first, "jit")
        self.assertEqual((region["type"], region["protect"], region["alloc_protect"], num(region["size"])),
                         ("private", "RX", "RWX", 0x10000))

        # The MinHook-like hook: its block left read-write-execute, the export
        # reached through it, the call gone through the hook.
        minhook, minblock = first["minhook"][0], queried(first, "minhook_block")
        self.assertEqual((minblock["type"], minblock["protect"], num(minblock["size"])), ("private", "RWX", 0x1000))
        self.assertEqual(num(minhook["calls"]), 1)

        # The device's Present and Reset detoured, a frame drawn through the hook.
        self.assertEqual((num(first["device"][0]["hooks"]), num(first["device"][0]["calls"])), (2, 1))
        # The trampoline regions, 64 KiB each, filled read-write, left read-execute.
        guards = [queried(first, "guard_" + near) for near in ("ntdll", "kernel32")] + [queried(first, "device_hooks")]
        self.assertEqual({(g["type"], g["protect"], g["alloc_protect"], num(g["size"])) for g in guards},
                         {("private", "RX", "RW", 0x10000)})

        # Nothing else private and executable: a clean game leaves no more.
        private = sorted(r["base"] for r in first.get("region", []) if r["type"] == "private")
        self.assertEqual(private, sorted([block["region"], region["region"], minblock["region"]] +
                                         [g["region"] for g in guards]), first.get("region"))

        # The splash DLL goes, the late DLL comes, each on time.
        self.assertIn("launcher_splash.dll", names)
        self.assertNotIn("content_patch.dll", names)
        start = num(first["realistic"][0]["start_ms"])
        later = wait_for(lambda: (lambda r: r if num(r["late"][0]["loaded_ms"]) else None)(game.report()), LATE_S + 20)
        self.assertTrue(later, "the late DLL never came")
        names = module_names(later)
        self.assertIn("content_patch.dll", names)
        self.assertNotIn("launcher_splash.dll", names)
        self.assertGreaterEqual(len(names), 110)
        late_ms = num(later["late"][0]["loaded_ms"]) - start
        freed_ms = num(later["splash"][0]["freed_ms"]) - start
        self.assertTrue(LATE_S * 1000 <= late_ms <= LATE_S * 1000 + 2000, late_ms)
        self.assertTrue(UNLOAD_S * 1000 <= freed_ms <= UNLOAD_S * 1000 + 2000, freed_ms)

        # The cheat-like commands still work in the realistic game.
        self.assertCheatMemory(game.report("rwx", "rwx-pe", "patch", "load marvik_plain.dll"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
