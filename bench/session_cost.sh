#!/usr/bin/env bash
# Builds what the session cost benchmark needs (both widths of the client as
# shipped, its tools and its stand-in game, and the reference server), then runs it:
# bench/session_cost.py says what it measures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
cmake --preset native >/dev/null && cmake --build --preset native -j2 --target marvik_refserver
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j2 --target marvik_ac acctl standin_game tray_recorder
cmake --preset win64 >/dev/null && cmake --build --preset win64 -j2 --target marvik_ac acctl standin_game tray_recorder
cmake --preset release >/dev/null && cmake --build --preset release -j2
cmake --preset release32 >/dev/null && cmake --build --preset release32 -j2
exec python3 bench/session_cost.py "$@"
