#!/usr/bin/env bash
# Installs the Debian packages the project needs. This is the one place that
# knows their names. Idempotent: when everything is installed it only checks.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang
  zlib1g-dev libsndfile1-dev libsamplerate0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev
  xvfb xauth xdotool
  help2man man-db          # the manual pages, made from --help; `man -l` in the install test
)

# `setup.sh fuzz`: also what the fuzz preset needs (libFuzzer of Clang).
if [ "${1:-}" = fuzz ]; then
  PACKAGES+=(libclang-rt-dev)
fi
# `setup.sh web`: also what the web page needs: Emscripten, the source
# packages' tools, a server for `make serve-web`, and Chromium with npm for
# the browser tests (npm from Debian unless the machine's Node.js brings it).
if [ "${1:-}" = web ]; then
  PACKAGES+=(emscripten dpkg-dev python3 chromium)
  command -v npm >/dev/null || PACKAGES+=(npm)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Further steps (sources of third-party libraries built in the build tree)
for step in "$(dirname "$0")"/setup.d/*.sh; do
  [ -e "$step" ] || continue
  bash "$step" "${1:-}"
done
