#!/usr/bin/env python3
"""Writes the seed corpora of the game-memory fuzz targets into seeds/ (kept
in the repository; run again only when an input layout changes). Each seed
is a well-formed input in the layout its target reads (fuzz_memory.h), so
the fuzzer starts from lists, images and maps a real game has."""

import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
MAKE_DLL = os.path.join(HERE, "..", "tools", "fixtures", "make_test_dll.py")


def piece(address, data):
    return struct.pack("<QH", address, len(data)) + data


def loader_list(width, entries, loop_to=None):
    """PEB at 0x1000, loader data at 0x2000, entry i at 0x3000 + 0x400 * i, names behind it."""
    x64 = width == 8
    ptr = (lambda v: struct.pack("<Q", v)) if x64 else (lambda v: struct.pack("<I", v))
    head = 0x2000 + (0x10 if x64 else 0x0C)
    peb = bytearray(0x40)
    at = 0x18 if x64 else 0x0C
    peb[at:at + width] = ptr(0x2000)
    links = [0x3000 + 0x400 * i for i in range(len(entries))]
    nxt = links[1:] + [head if loop_to is None else links[loop_to]]
    ldr = bytearray(0x40)
    ldr[head - 0x2000:head - 0x2000 + width] = ptr(links[0] if links else head)
    out = piece(0x1000, bytes(peb)) + piece(0x2000, bytes(ldr))
    for i, (base, path) in enumerate(entries):
        e = bytearray(0x400)
        e[0:width] = ptr(nxt[i])
        at = 0x30 if x64 else 0x18
        e[at:at + width] = ptr(base)
        for field, text, where in ((0x48 if x64 else 0x24, path, 0x100), (0x58 if x64 else 0x2C, path.split("\\")[-1], 0x300)):
            raw = text.encode("utf-16-le")
            e[field:field + 2] = struct.pack("<H", len(raw))
            e[field + width:field + 2 * width] = ptr(links[i] + where)
            e[where:where + len(raw)] = raw
        out += piece(links[i], bytes(e[:0x400]))
    return out


def write(target, name, data):
    folder = os.path.join(HERE, "seeds", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    game = [(0x400000, "C:\\Games\\CoD4\\iw3mp.exe"), (0x7C900000, "C:\\Windows\\system32\\ntdll.dll"),
            (0x4FDD0000, "C:\\Windows\\system32\\d3d9.dll")]
    for width in (4, 8):
        header = bytes([1 if width == 8 else 0, 16])
        write("loader_list", "closed%d" % width, header + loader_list(width, game))
        write("loader_list", "looped%d" % width, header + loader_list(width, game, loop_to=1))

    with tempfile.TemporaryDirectory() as tmp:
        for machine in ("amd64", "i386"):
            dll = os.path.join(tmp, machine + ".dll")
            subprocess.run([sys.executable, MAKE_DLL, "--machine", machine, dll, "7"], check=True)
            with open(dll, "rb") as f:
                write("pe_reader", "minimal_" + machine, b"\x10" + f.read())
            subprocess.run([sys.executable, MAKE_DLL, "--machine", machine, "--game-set", tmp], check=True)
            with open(os.path.join(tmp, "launcher_splash.dll"), "rb") as f:
                write("pe_reader", "game_dll_" + machine, b"\x00" + f.read()[:0x6000])
            with open(dll, "rb") as f:
                image = f.read()[:0x800]
            # A private allocation laid out like an image, and a module whose
            # code holds a jump out of it.
            regions = bytes([1 if machine == "amd64" else 0, 3,
                             0, 0, 0, 1, 0x04, 0x00, 2, 0,
                             0, 1, 1, 1, 0x20, 0x00, 2, 0,
                             0, 1, 1, 1, 0x02, 0x00, 2, 0])
            listed = bytes([1, 0x00, 0x10, 0x00, 0x00, 0x40, 0x00, 1, 0, 0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00])
            jump = b"\xe9\x00\x10\x00\x00" + bytes(11)
            write("memory_check", "image_" + machine,
                  regions + listed + piece(0x1000, image) + piece(0x10000, jump))
    write("config", "plain", b"server_ip=203.0.113.7\nserver_port=28960\nplayer_name=Sniper\nauto_start=1\nencryption=1\n")
    write("config", "bom_crlf", b"\xef\xbb\xbfserver_ip=203.0.113.7\r\n# comment\r\nserver_port=99999\r\n")


if __name__ == "__main__":
    main()
