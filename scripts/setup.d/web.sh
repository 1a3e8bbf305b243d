#!/usr/bin/env bash
# `setup.sh web` only: the C libraries the web page needs, compiled to
# WebAssembly from Debian's source packages (cmake/web_libs.cmake), since
# Emscripten's own ports cannot be downloaded; and the browser tests' npm
# dependency (playwright-core, locked in tests/web/package-lock.json).
set -euo pipefail
[ "${1:-}" = web ] || exit 0
HERE=$(dirname "$0")
bash "$HERE/../fetch_deb_source.sh" zlib zlib.h
bash "$HERE/../fetch_deb_source.sh" libsamplerate src/samplerate.c
bash "$HERE/../fetch_deb_source.sh" libsndfile src/sndfile.c
ROOT=$(cd "$HERE/../.." && pwd)
if [ ! -d "$ROOT/tests/web/node_modules/playwright-core" ]; then
  echo "setup: installing the browser tests' npm dependencies (npm ci in tests/web)"
  (cd "$ROOT/tests/web" && npm ci --no-audit --no-fund --ignore-scripts)
fi
