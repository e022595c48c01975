#!/usr/bin/env bash
# Installs what the build and the tests need and prepares the private Wine
# prefix in build/wineprefix. Safe to run again: it only adds what is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake make python3 git
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine64 xvfb xauth xdotool imagemagick x11-utils
  g++ g++-multilib libgtest-dev libgmock-dev googletest libbenchmark-dev zlib1g-dev libssl-dev
  clang libclang-rt-14-dev
  ccache
  nsis osslsigncode openssl zip
  # The locale sources the code page tests compile (ru_RU: code page 1251,
  # zh_CN: 936).
  locales
)
# 32-bit Wine runs the i686 build and a 32-bit game the way a player's 64-bit
# Windows runs them (WOW64); it needs the i386 architecture first.
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
packages+=(wine32:i386)
# Direct3D under 32-bit Wine needs 32-bit OpenGL: without it a 32-bit game's
# Direct3DCreate9 returns nothing, as on a PC without a graphics driver.
packages+=(libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  [ "$need_i386" -eq 0 ] || "${sudo_cmd[@]}" dpkg --add-architecture i386
  "${sudo_cmd[@]}" apt-get update -qq || true
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

prefix="$root/build/wineprefix"
# A prefix made before 32-bit Wine was installed has no syswow64 and cannot
# run a 32-bit program: make it anew.
if [ -f "$prefix/system.reg" ] && [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
  echo "setup: Wine prefix has no 32-bit half, recreating it"
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
fi
if [ ! -f "$prefix/system.reg" ]; then
  echo "setup: creating Wine prefix $prefix"
  mkdir -p "$root/build"
  WINEPREFIX="$prefix" WINEDEBUG=-all /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w || true
fi
[ -f "$prefix/system.reg" ] || { echo "setup: Wine prefix was not created" >&2; exit 1; }
# A 32-bit Windows for the installer's choice of client by system width.
prefix32="$root/build/wineprefix32"
if [ ! -f "$prefix32/system.reg" ]; then
  echo "setup: creating 32-bit Wine prefix $prefix32"
  WINEARCH=win32 WINEPREFIX="$prefix32" WINEDEBUG=-all /usr/lib/wine/wine wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$prefix32" /usr/lib/wine/wineserver -w || true
fi
[ -f "$prefix32/system.reg" ] || { echo "setup: 32-bit Wine prefix was not created" >&2; exit 1; }
[ -d "$prefix/drive_c/windows/syswow64" ] || { echo "setup: Wine prefix has no syswow64" >&2; exit 1; }
echo "setup: ready"
