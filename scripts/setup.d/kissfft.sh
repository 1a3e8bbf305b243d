#!/usr/bin/env bash
# Fetches and unpacks Debian's kissfft source package. The build compiles its
# fixed-point (int32) variant from there (cmake/kissfft.cmake).
set -euo pipefail
exec bash "$(dirname "$0")/../fetch_deb_source.sh" kissfft kiss_fft.c
