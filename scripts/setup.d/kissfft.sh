#!/usr/bin/env bash
# Fetches and unpacks Debian's kissfft source package. The build compiles its
# fixed-point (int32) variant from there; no copy of it lives in the
# repository. Idempotent: nothing is downloaded when the unpacked source is
# already present, so it works offline once fetched.
set -euo pipefail

CACHE=/var/cache/tarvik2/kissfft
SRC="$CACHE/src"
STAMP="$SRC/.tarvik2-unpacked"
LIST=/etc/apt/sources.list.d/tarvik2-deb-src.sources

if [ -f "$STAMP" ] && [ -f "$SRC/kiss_fft.c" ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

fail() {
  echo "setup: kissfft: $*" >&2
  echo "setup: kissfft: the fixed-point FFT is built from Debian's 'kissfft' source package," >&2
  echo "setup: kissfft: which must be unpacked in $SRC (with kiss_fft.c in it)." >&2
  exit 1
}

command -v dpkg-source >/dev/null || fail "dpkg-source is missing (package dpkg-dev)"

# apt needs a deb-src entry for the suites the machine already uses.
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
  if [ ! -f "$LIST" ]; then
    CODENAME=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    echo "setup: kissfft: adding deb-src entries for $CODENAME in $LIST"
    $SUDO tee "$LIST" >/dev/null <<SRCLIST
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $CODENAME $CODENAME-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRCLIST
  fi
  $SUDO apt-get update -qq || fail "apt-get update failed (no network?); the source index is missing"
fi

$SUDO mkdir -p "$CACHE/download"
# Let apt's unprivileged download user write there, so it keeps its sandbox.
if id _apt >/dev/null 2>&1; then $SUDO chown _apt "$CACHE/download"; fi
cd "$CACHE/download"
# apt checks every downloaded file against the checksums of the signed
# source index (the Release signature is verified by apt as usual).
if ! ls ./kissfft_*.dsc >/dev/null 2>&1; then
  $SUDO apt-get source --download-only -qq kissfft \
    || fail "could not download the source package 'kissfft' (no network or no deb-src entry)"
fi
DSC=$(ls ./kissfft_*.dsc | sort -V | tail -n 1)
$SUDO rm -rf "$SRC"
# dpkg-source checks the sizes and checksums that the .dsc lists.
$SUDO dpkg-source -x "$DSC" "$SRC" >/dev/null || fail "could not unpack or verify $DSC"
[ -f "$SRC/kiss_fft.c" ] || fail "$DSC does not hold kiss_fft.c"
$SUDO touch "$STAMP"
echo "setup: kissfft: source unpacked in $SRC"
