#!/usr/bin/env bash
# fetch_deb_source.sh PACKAGE MARKER: fetches and unpacks Debian's source
# package PACKAGE into /var/cache/tarvik2/PACKAGE/src (MARKER: a file the
# unpacked source must hold). The build compiles from there; no copy of
# third-party code lives in the repository. Idempotent: nothing is
# downloaded when the unpacked source is already present, so it works
# offline once fetched.
set -euo pipefail

PKG=$1
MARKER=$2
CACHE=/var/cache/tarvik2/$PKG
SRC="$CACHE/src"
STAMP="$SRC/.tarvik2-unpacked"
LIST=/etc/apt/sources.list.d/tarvik2-deb-src.sources

if [ -f "$STAMP" ] && [ -e "$SRC/$MARKER" ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

fail() {
  echo "setup: $PKG: $*" >&2
  echo "setup: $PKG: the build compiles Debian's '$PKG' source package," >&2
  echo "setup: $PKG: which must be unpacked in $SRC (with $MARKER in it)." >&2
  exit 1
}

command -v dpkg-source >/dev/null || fail "dpkg-source is missing (package dpkg-dev)"

# apt needs a deb-src entry for the suites the machine already uses.
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
  if [ ! -f "$LIST" ]; then
    CODENAME=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    echo "setup: $PKG: adding deb-src entries for $CODENAME in $LIST"
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
if ! ls ./"${PKG}"_*.dsc >/dev/null 2>&1; then
  $SUDO apt-get source --download-only -qq "$PKG" \
    || fail "could not download the source package '$PKG' (no network or no deb-src entry)"
fi
DSC=$(ls ./"${PKG}"_*.dsc | sort -V | tail -n 1)
$SUDO rm -rf "$SRC"
# dpkg-source checks the sizes and checksums that the .dsc lists (and
# applies Debian's patches).
$SUDO dpkg-source -x "$DSC" "$SRC" >/dev/null || fail "could not unpack or verify $DSC"
[ -e "$SRC/$MARKER" ] || fail "$DSC does not hold $MARKER"
$SUDO touch "$STAMP"
echo "setup: $PKG: source unpacked in $SRC"
