#!/usr/bin/env bash
# Sets up the machine and runs every test: native unit tests, the same under
# AddressSanitizer and UBSan, the x86_64 Windows build's unit and system tests
# under Wine, and the i686 build's unit tests under 32-bit Wine (WOW64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${MARVIK_JOBS:-2}
# Builds of another clone of the same sources come from the compiler cache:
# paths are taken relative to the clone, whichever folder it is in.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

started=$SECONDS
step() { printf '\n=== %s (at %d s)\n' "$*" $((SECONDS - started)); }

step "setup"
tools/setup.sh

step "native: build and unit tests"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"
# CTest runs each test in a process of its own; the product runs everything
# in one. The whole suite once more in one process, in random order, catches
# tests that only pass because of what ran before them.
build/native/tests/marvik_tests --gtest_shuffle --gtest_brief=1

step "native-asan: unit tests under ASan + UBSan"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --preset native-asan -j"$jobs"

step "fuzz: each libFuzzer target for a short, bounded run"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DMARVIK_FUZZ=ON \
  -DMARVIK_FUZZ_SECONDS="${MARVIK_FUZZ_SECONDS:-10}" >/dev/null
cmake --build build/fuzz -j"$jobs" --target marvik_fuzz_client_receive marvik_fuzz_server_feed \
  marvik_fuzz_loader_list marvik_fuzz_pe_reader marvik_fuzz_memory_check marvik_fuzz_config
ctest --test-dir build/fuzz -R fuzz_ --output-on-failure

step "bench: the benchmarks still build (run: build/bench/bench/marvik_bench)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$jobs"

step "server library: 32-bit Linux build (-m32) and its embedding example"
cmake -S server -B build/server32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 >/dev/null
cmake --build build/server32 -j"$jobs"
ctest --test-dir build/server32 --output-on-failure

step "win32 (i686): build"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"

step "win64: build"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$jobs"

step "win64: unit tests and system tests under wine64"
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all
exec {xfd}<> <(:)
Xvfb -displayfd "$xfd" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -u "$xfd" display
export DISPLAY=":$display"
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
# A persistent wineserver, warmed up by one process, so that test processes
# start fast and never race the prefix's first start.
/usr/lib/wine/wineserver -p
tools/wine-run cmd /c exit
ctest --preset win64 -E '^system\.' -j"$jobs"
# The system tests spend most of their time waiting for the client's timers
# (heartbeats, scans, retries), so twice as many run at once.
ctest --preset win64 -R '^system\.' -j"$((jobs * 2))"
tools/wine-run build/win64/tests/marvik_tests.exe --gtest_shuffle --gtest_brief=1

step "win32: unit tests under 32-bit Wine"
ctest --preset win32 -j"$jobs"
tools/wine-run32 build/win32/tests/marvik_tests.exe --gtest_shuffle --gtest_brief=1

step "all tests passed"
