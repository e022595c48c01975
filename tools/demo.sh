#!/usr/bin/env bash
# The client's main job, on any Debian machine: sets up, builds, starts the
# reference server on 127.0.0.1, a stand-in game (C:\Game\iw3mp.exe) with a
# player GUID and a config_mp.cfg in its profile folder, and marvik_ac.exe
# under Wine (its tray icon in Wine's system tray window). It shows the session as it
# happens (the server's live summary and the client's log), takes a
# screenshot of the desktop with the tray icon and its menu, and after
# MARVIK_DEMO_SECONDS (default 40) quits the game, then picks "Stop
# AntiCheat" from the tray menu. Ctrl-C ends it early and cleanly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${MARVIK_DEMO_SECONDS:-40}

tools/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target marvik_refserver
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target marvik_ac acctl standin_game

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp -a "$root/build/wineprefix" "$demo/prefix"
folder="$demo/prefix/drive_c/MarvikAC"
game="$demo/prefix/drive_c/Game"
mkdir -p "$folder" "$game/players/profiles/DemoPlayer"
cp build/win64/marvik_ac.exe build/win64/tools/acctl/acctl.exe build/win64/tools/acctl/menu_probe.dll "$folder/"
cp build/win64/tools/standin_game/standin_game.exe "$game/iw3mp.exe"
printf '8f2b6c0d9e1a4b3c5d7e9f1a2b3c4d5e\r\n' > "$game/players/guid.dat"
printf 'seta name "DemoPlayer"\r\nseta sensitivity "2.5"\r\nseta cg_fov "80"\r\n' \
  > "$game/players/profiles/DemoPlayer/config_mp.cfg"

export WINEPREFIX="$demo/prefix" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
server_pid= xvfb_pid= tail_pid=
finish() {
  trap - EXIT INT TERM
  [ -n "$tail_pid" ] && kill "$tail_pid" 2>/dev/null
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  echo "demo: done (files in $demo)"
}
trap finish EXIT
trap 'echo; echo "demo: stopping"; exit 0' INT TERM

exec {xfd}<> <(:)
Xvfb -displayfd "$xfd" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -u "$xfd" display
export DISPLAY=":$display"

build/native/tools/refserver/marvik_refserver --listen 127.0.0.1 --port 0 --encryption --summary \
  --json "$demo/server.jsonl" 2> >(sed -u 's/^/server | /') &
server_pid=$!
for _ in $(seq 50); do grep -q '"listening"' "$demo/server.jsonl" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/.*"listening".*"port":\([0-9]*\).*/\1/p' "$demo/server.jsonl" | head -1)
cat > "$folder/marvik_ac.cfg" <<CFG
# anti-cheat client settings
server_ip=127.0.0.1
server_port=$port
player_name=DemoPlayer
auto_start=1
encryption=1
CFG
echo "demo: reference server on 127.0.0.1:$port (RC4 on)"

echo "demo: starting the stand-in game C:\\Game\\iw3mp.exe and C:\\MarvikAC\\marvik_ac.exe"
"$wine" 'C:\Game\iw3mp.exe' >/dev/null 2>&1 &
"$wine" 'C:\MarvikAC\marvik_ac.exe' >/dev/null 2>&1 &
touch "$folder/marvik_ac.log"
tail -n +1 -F "$folder/marvik_ac.log" 2>/dev/null | sed -u 's/^/client | /' &
tail_pid=$!

for _ in $(seq 60); do grep -q 'AntiCheat is running' "$folder/marvik_ac.log" && break; sleep 0.5; done
sleep 2
echo "demo: the tray menu now:"
"$wine" 'C:\MarvikAC\acctl.exe' menu | tr -d '\r' | sed 's/^/    /' || true
import -window root "$demo/desktop.png" 2>/dev/null && echo "demo: screenshot of the desktop: $demo/desktop.png"
rest=$((seconds > 20 ? seconds - 20 : 0))
sleep "$rest"
echo "demo: quitting the game"
echo 0 > "$game/iw3mp.exe.exit"
sleep 6
echo "demo: picking \"Stop AntiCheat\""
"$wine" 'C:\MarvikAC\acctl.exe' stop >/dev/null || true
sleep 4
