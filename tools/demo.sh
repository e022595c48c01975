#!/usr/bin/env bash
# The client's main job, on any Debian machine: sets up, builds
# marvik_ac.exe and runs it under Wine beside a configuration file for a
# while (MARVIK_DEMO_SECONDS, default 20), then shows its log and registry
# value. Ctrl-C ends it early and cleanly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${MARVIK_DEMO_SECONDS:-20}

tools/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target marvik_ac

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp -a "$root/build/wineprefix" "$demo/prefix"
folder="$demo/prefix/drive_c/MarvikAC"
mkdir -p "$folder"
cp build/win64/marvik_ac.exe "$folder/"
cat > "$folder/marvik_ac.cfg" <<'CFG'
# anti-cheat client settings
server_ip=127.0.0.1
server_port=28960
player_name=DemoPlayer
auto_start=1
encryption=0
CFG

export WINEPREFIX="$demo/prefix" WINEDEBUG=-all
exec {xfd}<> <(:)
Xvfb -displayfd "$xfd" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -u "$xfd" display
export DISPLAY=":$display"
finish() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap finish EXIT
trap 'echo; echo "demo: stopping"; exit 0' INT TERM

echo "demo: starting C:\\MarvikAC\\marvik_ac.exe for ${seconds} s (log: $folder/marvik_ac.log)"
/usr/lib/wine/wine64 'C:\MarvikAC\marvik_ac.exe' >/dev/null 2>&1 &
touch "$folder/marvik_ac.log"
tail -n +1 -F "$folder/marvik_ac.log" 2>/dev/null &
tail_pid=$!
sleep "$seconds"
kill "$tail_pid" 2>/dev/null || true
echo
echo "demo: Run value:"
/usr/lib/wine/wine64 reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Marvik_AntiCheat || true
echo "demo: done"
