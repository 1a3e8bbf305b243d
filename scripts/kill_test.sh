#!/usr/bin/env bash
# Kills the instrument while it saves, again and again, and checks that no
# saved measurement is ever lost. Each round runs the headless runner on a
# save-heavy workload (vibrometer readings measured and saved one after the
# other) on one data folder and sends it SIGKILL at a random moment (the
# moments come from --seed, so a run can be repeated); then the archive tool
# verifies the archive and counts its measurements. A round loses data when
# the archive no longer verifies clean or holds fewer measurements than
# after the round before.
#
# usage: scripts/kill_test.sh [--rounds N] [--seed S] [--build DIR] [--data DIR]
#   --rounds N   rounds (default 200)
#   --seed S     seed of the kill moments (default 1)
#   --build DIR  the build folder with tarvik2-run and tarvik2-archive
#                (default: build/release)
#   --data DIR   data folder to use (default: a temporary one, removed at
#                the end); kept when a round loses data
# Exit status 0 when nothing was lost, 1 when something was, 2 on a usage
# error.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
rounds=200
seed=1
build="$here/build/release"
data=
while (($#)); do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --build) build=$(realpath "$2"); shift 2 ;;
    --data) data=$2; shift 2 ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "kill_test: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
[[ "$rounds" =~ ^[0-9]+$ ]] || { echo "kill_test: --rounds must be a whole number" >&2; exit 2; }
[[ "$seed" =~ ^[0-9]+$ ]] || { echo "kill_test: --seed must be a whole number" >&2; exit 2; }
run="$build/front/headless/tarvik2-run"
tool="$build/tools/archive/tarvik2-archive"
for p in "$run" "$tool"; do
  [ -x "$p" ] || { echo "kill_test: $p is not built (make run, or cmake --build --preset release)" >&2; exit 2; }
done

temporary=0
if [ -z "$data" ]; then
  data=$(mktemp -d "${TMPDIR:-/tmp}/tarvik2-kill-XXXXXX")
  temporary=1
fi
mkdir -p "$data"
steps="$data/workload.txt"
{
  echo "wait 1500"
  echo "enter      # the vibrometer"
  echo "wait 300"
  for _ in $(seq 40); do
    printf 'enter\nwait 1200\nenter\nwait 200\nshift+enter\nwait 200\nenter\nwait 200\n'
  done
  echo "esc"
} >"$steps"

# Measurements in the archive, from the tool's summary.
measurements() {
  "$tool" --data "$data" info | sed -n 's/^measurements: *\([0-9]*\).*/\1/p'
}

# The first run, not killed: the image is made and the length of a whole
# run is taken, which the kill moments fall within.
start=$(date +%s%N)
"$run" --data "$data" --clock 2026-12-10T12:00:00 --seed 1 "$steps" >/dev/null 2>&1
span_ms=$((($(date +%s%N) - start) / 1000000))
((span_ms > 0)) || span_ms=1
before=$(measurements)
[ -n "$before" ] || { echo "kill_test: the archive tool gave no measurement count for $data" >&2; exit 2; }

RANDOM=$seed
saved=0
lost=0
damaged=0
for ((r = 1; r <= rounds; r++)); do
  delay_ms=$(((RANDOM * 32768 + RANDOM) % span_ms))
  "$run" --data "$data" --clock 2026-12-10T12:00:00 --seed "$r" "$steps" >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if ! report=$("$tool" --data "$data" verify 2>&1); then
    damaged=$((damaged + 1))
    echo "round $r (killed after $delay_ms ms): the archive does not verify clean:" >&2
    echo "$report" | tail -n 20 >&2
  fi
  now=$(measurements)
  if [ -z "$now" ] || ((now < before)); then
    lost=$((lost + before - ${now:-0}))
    echo "round $r (killed after $delay_ms ms): ${now:-no} measurements, $before before" >&2
  else
    saved=$((saved + now - before))
  fi
  before=${now:-$before}
  [ -t 2 ] && printf '\rround %d of %d: %d saves completed' "$r" "$rounds" "$saved" >&2
done
[ -t 2 ] && echo >&2
echo "rounds: $rounds, saves completed: $saved, measurements lost: $lost, rounds with damage: $damaged"
if ((lost == 0 && damaged == 0)); then
  ((temporary)) && rm -rf "$data"
  exit 0
fi
echo "kill_test: the data folder is kept: $data" >&2
exit 1
