#!/usr/bin/env bash
# Builds the shipped client, 64-bit and 32-bit, and puts the signed installer
# (which installs the one that fits the system) and the portable zip (both,
# in folders of their own, with a read-me) into one folder:
#
#   tools/release.sh                 # build/release/dist/
#   tools/release.sh --unsigned      # the same without signing (a trial run)
#   tools/release.sh --exe FILE --exe32 FILE --out DIR [--unsigned]   # package built exes
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

exe="" exe32="" out="" signed=1
while [ $# -gt 0 ]; do
  case "$1" in
    --exe) exe=$2; shift 2 ;;
    --exe32) exe32=$2; shift 2 ;;
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

if [ -z "$exe" ] && [ -z "$exe32" ]; then
  # Unset means the default, never what an earlier run left in the cache.
  if [ -n "${MARVIK_CHALLENGE_SECRET:-}" ]; then
    secret_arg=("-DMARVIK_CHALLENGE_SECRET=$MARVIK_CHALLENGE_SECRET")
  else
    secret_arg=(-UMARVIK_CHALLENGE_SECRET)
  fi
  for preset in release release32; do
    cmake --preset "$preset" "${secret_arg[@]}" >/dev/null
    cmake --build --preset "$preset" -j2
    size=$(stat -c %s "$root/build/$preset/marvik_ac.exe")
    [ "$size" -lt 1048576 ] || die "$preset marvik_ac.exe is $size bytes, more than 1 MB"
  done
  exe="$root/build/release/marvik_ac.exe" exe32="$root/build/release32/marvik_ac.exe"
fi
[ -n "$out" ] || out="$root/build/release/dist"
[ -f "$exe" ] || die "no 64-bit executable at $exe"
[ -f "$exe32" ] || die "no 32-bit executable at $exe32 (--exe and --exe32 go together)"

version=$(sed -n 's/^#define MARVIK_VERSION_TEXT "\(.*\)"/\1/p' "$root/src/base/version.h")
quad=$(sed -n 's/^#define MARVIK_VERSION_QUAD \(.*\)/\1/p' "$root/src/base/version.h" | tr -d ' ' | tr , .)
[ -n "$version" ] && [ -n "$quad" ] || die "no version in src/base/version.h"

rm -rf "$out"
mkdir -p "$out"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/64-bit" "$stage/32-bit"
cp "$exe" "$stage/64-bit/marvik_ac.exe"
cp "$exe32" "$stage/32-bit/marvik_ac.exe"
for width in 64 32; do
  [ "$signed" = 0 ] || sign_file "$stage/$width-bit/marvik_ac.exe"
  cp "$root/installer/marvik_ac.cfg.example" "$stage/$width-bit/"
done

setup="$out/marvik_ac-$version-setup.exe"
nsis_args=(-V2 "-DVERSION=$version" "-DVERSION_QUAD=$quad" "-DEXE=$stage/64-bit/marvik_ac.exe"
           "-DEXE32=$stage/32-bit/marvik_ac.exe" "-DOUTFILE=$setup")
[ "$signed" = 0 ] || nsis_args+=("-DSIGN_COMMAND=\"$self\" --sign-file \"%1\"")
(cd "$root/installer" && makensis "${nsis_args[@]}" marvik_ac.nsi)
[ "$signed" = 0 ] || sign_file "$setup"

cat > "$stage/README.txt" <<TXT
Marvik AC $version, portable: no installer needed.

Which one to use: the folder 64-bit on 64-bit Windows, the folder 32-bit on
32-bit Windows (Settings > System > About, "System type", says which you have).

Copy marvik_ac.cfg.example to marvik_ac.cfg beside marvik_ac.exe, fill in
your server's address, port and encryption setting and your player name
(one word), and start marvik_ac.exe.
TXT
sed -i 's/$/\r/' "$stage/README.txt"
(cd "$stage" && zip -q -X "$out/marvik_ac-$version-portable.zip" README.txt \
  64-bit/marvik_ac.exe 64-bit/marvik_ac.cfg.example 32-bit/marvik_ac.exe 32-bit/marvik_ac.cfg.example)

# What a server admin checks a client against: the self-integrity value the
# client reports is the CRC-32 of exactly this (signed) file.
python3 - "$stage" "$out" "$version" <<'PY'
import hashlib, os, sys, zlib
stage, out, version = sys.argv[1:]
lines = ["Marvik AC %s" % version]
for width in ("64-bit", "32-bit"):
    data = open(os.path.join(stage, width, "marvik_ac.exe"), "rb").read()
    lines += ["%s marvik_ac.exe self-integrity value (CRC-32): 0x%08X" % (width, zlib.crc32(data)),
              "%s  %s/marvik_ac.exe (%d bytes)" % (hashlib.sha256(data).hexdigest(), width, len(data))]
for name in sorted(os.listdir(out)):
    lines.append("%s  %s" % (hashlib.sha256(open(os.path.join(out, name), "rb").read()).hexdigest(), name))
open(os.path.join(out, "release.txt"), "w").write("\n".join(lines) + "\n")
PY
ls -l "$out"
