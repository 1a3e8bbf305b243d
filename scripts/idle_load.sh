#!/usr/bin/env bash
# Measures the processor load of the emulator window under a virtual X
# server (Xvfb): the window starts on a fresh data folder, boots to the main
# menu, and the script reads the process's CPU time (user + system, all
# threads) and the main thread's wake-ups (voluntary context switches) from
# /proc over a quiet stretch of SECONDS, first at the main menu, then with
# the vibrometer measuring.
#
# usage: scripts/idle_load.sh [--emu PROGRAM] [--seconds N] [--scene menu|measuring|all]
#   --emu PROGRAM   the window program (default: build/release/front/qt/tarvik2-emu)
#   --seconds N     length of each measurement (default 20)
#   --scene S       which scenes to measure (default all)
#   --shots DIR     save the screen after each scene as DIR/SCENE.png
# Needs xvfb-run and xdotool (scripts/setup.sh installs them).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
emu="$here/build/release/front/qt/tarvik2-emu"
seconds=20
scene=all
shots=
inside=0
while (($#)); do
  case "$1" in
    --emu) emu=$(realpath "$2"); shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --scene) scene=$2; shift 2 ;;
    --shots) mkdir -p "$2"; shots=$(realpath "$2"); shift 2 ;;
    --inside) inside=1; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "idle_load: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
case "$scene" in menu|measuring|all) ;; *) echo "idle_load: --scene must be menu, measuring or all" >&2; exit 2 ;; esac
[ -x "$emu" ] || { echo "idle_load: $emu is not built (make run, or cmake --build --preset release)" >&2; exit 2; }

if ((!inside)); then
  # A private virtual display; the script runs again inside it.
  exec xvfb-run -a -s "-screen 0 1366x768x24" "$0" --inside --emu "$emu" --seconds "$seconds" --scene "$scene" \
    ${shots:+--shots "$shots"}
fi

hz=$(getconf CLK_TCK)
data=$(mktemp -d "${TMPDIR:-/tmp}/tarvik2-load-XXXXXX")
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -rf "$data"
}
trap cleanup EXIT

# CPU ticks (user + system) of the whole process.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# Voluntary context switches of the main thread: how often it went to sleep.
wakeups() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$pid/task/$pid/status"; }

measure() {
  local name=$1 c0 c1 w0 w1 t0 t1
  c0=$(cpu_ticks); w0=$(wakeups); t0=$(date +%s.%N)
  sleep "$seconds"
  c1=$(cpu_ticks); w1=$(wakeups); t1=$(date +%s.%N)
  awk -v n="$name" -v c="$((c1 - c0))" -v w="$((w1 - w0))" -v t0="$t0" -v t1="$t1" -v hz="$hz" \
    'BEGIN { t = t1 - t0; printf "%-10s cpu %5.2f %% of one core   wake-ups %6.0f /s   (%.1f s)\n", n, 100 * c / hz / t, w / t, t }'
  if [ -n "$shots" ]; then xwd -root -silent | convert xwd:- "$shots/$name.png"; fi
}

"$emu" --data "$data" >/dev/null 2>&1 &
pid=$!
# The first start writes the 276 MB flash.dat; then the instrument boots.
for _ in $(seq 600); do
  size=$(stat -c %s "$data/flash.dat" 2>/dev/null || echo 0)
  [ "$size" = 276824064 ] && break
  sleep 0.2
done
win=
for _ in $(seq 100); do
  win=$(xdotool search --pid "$pid" --onlyvisible --name 'Tarvik-2' 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  sleep 0.2
done
[ -n "$win" ] || { echo "idle_load: the window did not appear" >&2; exit 1; }
sleep 5  # boot, mounting of the archive, main menu

if [ "$scene" = menu ] || [ "$scene" = all ]; then measure "menu"; fi
if [ "$scene" = measuring ] || [ "$scene" = all ]; then
  xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
  xdotool key Return  # main menu item 1: the vibrometer
  sleep 2
  xdotool key Return  # start measuring
  sleep 3
  measure "measuring"
fi
