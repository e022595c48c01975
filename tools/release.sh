#!/usr/bin/env bash
# Builds the shipped client and puts the signed installer and the portable
# zip into one folder:
#
#   tools/release.sh                 # build/release/dist/
#   tools/release.sh --unsigned      # the same without signing (a trial run)
#   tools/release.sh --exe FILE --out DIR [--unsigned]   # package a built exe
#
# Signing (osslsigncode, Authenticode with SHA-256) reads from the environment:
#   MARVIK_SIGN_CERT       the certificate: a .pfx/.p12 with its key, or a PEM
#                          or DER file (the chain, leaf first)
#   MARVIK_SIGN_KEY        the private key file, when the certificate is not a .pfx/.p12
#   MARVIK_SIGN_PASSWORD   the key's or the .pfx's password, if any
#   MARVIK_SIGN_TIMESTAMP  an RFC 3161 timestamp server URL (optional; without
#                          one a signature stops being valid when the certificate expires)
# The executable is signed before it is packed, the uninstaller while the
# installer is built, and the installer last.
#
# MARVIK_CHALLENGE_SECRET in the environment sets the challenge secret the
# client is built with (32 characters; see docs/protocol.md); unset, the
# default one. Server plug-ins must be built with the same value.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
self="$root/tools/release.sh"

die() { echo "release: $*" >&2; exit 1; }

sign_file() {
  local file=$1 signed="$1.signed"
  local args=(sign -h sha256 -n "Marvik AC" -in "$file" -out "$signed")
  case "${MARVIK_SIGN_CERT,,}" in
    *.pfx|*.p12) args+=(-pkcs12 "$MARVIK_SIGN_CERT") ;;
    *) [ -n "${MARVIK_SIGN_KEY:-}" ] || die "MARVIK_SIGN_KEY is needed beside a PEM or DER certificate"
       args+=(-certs "$MARVIK_SIGN_CERT" -key "$MARVIK_SIGN_KEY") ;;
  esac
  [ -z "${MARVIK_SIGN_TIMESTAMP:-}" ] || args+=(-ts "$MARVIK_SIGN_TIMESTAMP")
  rm -f "$signed"
  # The password goes through a pipe, never on a command line.
  if [ -n "${MARVIK_SIGN_PASSWORD:-}" ]; then
    osslsigncode "${args[@]}" -readpass <(printf '%s' "$MARVIK_SIGN_PASSWORD") >/dev/null
  else
    osslsigncode "${args[@]}" >/dev/null
  fi
  mv -f "$signed" "$file"
}

# makensis signs the uninstaller through this entry.
if [ "${1:-}" = "--sign-file" ]; then
  sign_file "$2"
  exit 0
fi

exe="" out="" signed=1
while [ $# -gt 0 ]; do
  case "$1" in
    --exe) exe=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --unsigned) signed=0; shift ;;
    *) die "unknown option $1 (see the head of $self)" ;;
  esac
done

for tool in makensis zip python3; do
  command -v "$tool" >/dev/null || die "$tool is missing; run tools/setup.sh"
done
if [ "$signed" = 1 ]; then
  command -v osslsigncode >/dev/null || die "osslsigncode is missing; run tools/setup.sh"
  [ -n "${MARVIK_SIGN_CERT:-}" ] || die "MARVIK_SIGN_CERT is not set (or pass --unsigned)"
  [ -r "$MARVIK_SIGN_CERT" ] || die "cannot read $MARVIK_SIGN_CERT"
fi

if [ -z "$exe" ]; then
  # Unset means the default, never what an earlier run left in the cache.
  if [ -n "${MARVIK_CHALLENGE_SECRET:-}" ]; then
    secret_arg=("-DMARVIK_CHALLENGE_SECRET=$MARVIK_CHALLENGE_SECRET")
  else
    secret_arg=(-UMARVIK_CHALLENGE_SECRET)
  fi
  cmake --preset release "${secret_arg[@]}" >/dev/null
  cmake --build --preset release -j2
  exe="$root/build/release/marvik_ac.exe"
  size=$(stat -c %s "$exe")
  [ "$size" -lt 1048576 ] || die "marvik_ac.exe is $size bytes, more than 1 MB"
fi
[ -n "$out" ] || out="$root/build/release/dist"
[ -f "$exe" ] || die "no executable at $exe"

version=$(sed -n 's/^#define MARVIK_VERSION_TEXT "\(.*\)"/\1/p' "$root/src/app/version.h")
quad=$(sed -n 's/^#define MARVIK_VERSION_QUAD \(.*\)/\1/p' "$root/src/app/version.h" | tr -d ' ' | tr , .)
[ -n "$version" ] && [ -n "$quad" ] || die "no version in src/app/version.h"

rm -rf "$out"
mkdir -p "$out"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/marvik_ac.exe"
[ "$signed" = 0 ] || sign_file "$stage/marvik_ac.exe"

setup="$out/marvik_ac-$version-setup.exe"
nsis_args=(-V2 "-DVERSION=$version" "-DVERSION_QUAD=$quad" "-DEXE=$stage/marvik_ac.exe" "-DOUTFILE=$setup")
[ "$signed" = 0 ] || nsis_args+=("-DSIGN_COMMAND=\"$self\" --sign-file \"%1\"")
(cd "$root/installer" && makensis "${nsis_args[@]}" marvik_ac.nsi)
[ "$signed" = 0 ] || sign_file "$setup"

cat > "$stage/marvik_ac.cfg.example" <<CFG
# anti-cheat client settings: fill in, save as marvik_ac.cfg beside marvik_ac.exe
server_ip=203.0.113.7
server_port=28960
player_name=Player
auto_start=1
encryption=0
CFG
sed -i 's/$/\r/' "$stage/marvik_ac.cfg.example"
zip -q -j -X "$out/marvik_ac-$version-portable.zip" "$stage/marvik_ac.exe" "$stage/marvik_ac.cfg.example"

# What a server admin checks a client against: the self-integrity value the
# client reports is the CRC-32 of exactly this (signed) file.
python3 - "$stage/marvik_ac.exe" "$out" "$version" <<'PY'
import hashlib, os, sys, zlib
exe, out, version = sys.argv[1:]
data = open(exe, "rb").read()
lines = ["Marvik AC %s" % version,
         "marvik_ac.exe self-integrity value (CRC-32): 0x%08X" % zlib.crc32(data),
         "%s  marvik_ac.exe" % hashlib.sha256(data).hexdigest()]
for name in sorted(os.listdir(out)):
    lines.append("%s  %s" % (hashlib.sha256(open(os.path.join(out, name), "rb").read()).hexdigest(), name))
open(os.path.join(out, "release.txt"), "w").write("\n".join(lines) + "\n")
PY
ls -l "$out"
