#!/usr/bin/env bash
# The client's main job, on any Debian machine: sets up, builds
# marvik_ac.exe and runs it under Wine beside a configuration file, starts a
# stand-in game (C:\Game\iw3mp.exe) a few seconds later, and shows the log,
# the tray icon's texts and its menu as the client finds the game and starts
# connecting. After MARVIK_DEMO_SECONDS (default 20) it picks "Stop
# AntiCheat" from the menu. Ctrl-C ends it early.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${MARVIK_DEMO_SECONDS:-20}

tools/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target marvik_ac acctl tray_recorder standin_game

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp -a "$root/build/wineprefix" "$demo/prefix"
folder="$demo/prefix/drive_c/MarvikAC"
mkdir -p "$folder"
cp build/win64/marvik_ac.exe build/win64/tools/acctl/acctl.exe build/win64/tools/acctl/menu_probe.dll \
  build/win64/tools/tray_recorder/tray_recorder.exe "$folder/"
mkdir -p "$demo/prefix/drive_c/Game"
cp build/win64/tools/standin_game/standin_game.exe "$demo/prefix/drive_c/Game/iw3mp.exe"
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

wine=/usr/lib/wine/wine64
# The tray recorder stands in for the notification area (there is no taskbar
# on this display) and writes down every tooltip and balloon.
"$wine" 'C:\MarvikAC\tray_recorder.exe' 'C:\MarvikAC\tray.txt' >/dev/null 2>&1 &
for _ in $(seq 50); do grep -q ready "$folder/tray.txt" 2>/dev/null && break; sleep 0.2; done

echo "demo: starting C:\\MarvikAC\\marvik_ac.exe (log: $folder/marvik_ac.log)"
"$wine" 'C:\MarvikAC\marvik_ac.exe' >/dev/null 2>&1 &
touch "$folder/marvik_ac.log"
tail -n +1 -F "$folder/marvik_ac.log" 2>/dev/null &
tail_pid=$!
sleep 4
echo "demo: tray menu before the game:"
"$wine" 'C:\MarvikAC\acctl.exe' menu | tr -d '\r' | sed 's/^/    /'
echo "demo: starting the stand-in game C:\\Game\\iw3mp.exe"
"$wine" 'C:\Game\iw3mp.exe' >/dev/null 2>&1 &
for _ in $(seq 60); do grep -q 'Connecting' "$folder/tray.txt" && break; sleep 0.5; done
echo "demo: tray menu with the game found:"
"$wine" 'C:\MarvikAC\acctl.exe' menu | tr -d '\r' | sed 's/^/    /'
rest=$((seconds > 12 ? seconds - 12 : 0))
sleep "$rest"
echo "demo: picking \"Stop AntiCheat\""
"$wine" 'C:\MarvikAC\acctl.exe' stop >/dev/null
sleep 3
kill "$tail_pid" 2>/dev/null || true
echo
echo "demo: tray icon calls (ms, operation, texts):"
tail -n +2 "$folder/tray.txt" | cut -f1,2,5,6 | sed 's/^/    /'
echo "demo: Run value:"
"$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Marvik_AntiCheat || true
echo "demo: done"
