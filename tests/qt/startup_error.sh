#!/usr/bin/env bash
# A start-up file that cannot be used never locks the user out. The window is
# started with a signal file that does not exist; its error box is shown on a
# virtual X server (xvfb-run) and answered with the keys a user presses
# (xdotool). Whether the box is answered and the window switched off with
# Ctrl+Q, or the program is sent SIGTERM with the box still open or after it,
# the program ends with status 0 and the next program on the data folder
# starts (the folder's lock went with it).
#
# usage: startup_error.sh EMU RUNNER
# Needs xvfb-run and xdotool (scripts/setup.sh installs them).
set -u

if [ "${1:-}" != --inside ]; then
  [ $# -eq 2 ] || { echo "usage: $0 EMU RUNNER" >&2; exit 2; }
  for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
  done
  exec xvfb-run -a -s "-screen 0 1366x768x24" bash "$0" --inside "$@"
fi
emu=$2
runner=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/data
mkdir "$data"
# Leaks inside the system's D-Bus library are not the program's.
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
unset QT_QPA_PLATFORM

failures=0
fail() {
  echo "FAIL [$case_name]: $*"
  failures=$((failures + 1))
}

# Guards against a hang, far beyond what each step needs.
STEP_TRIES=${STEP_TRIES:-600}  # of 0.2 s

# The visible windows of process $1 whose name matches the pattern $2.
windows() {
  local w
  for w in $(xdotool search --pid "$1" --onlyvisible --name . 2>/dev/null); do
    # shellcheck disable=SC2053
    [[ "$(xdotool getwindowname "$w" 2>/dev/null)" == $2 ]] && echo "$w"
  done
}

# Tries the command every 0.2 s until it succeeds; false after STEP_TRIES.
wait_for() {
  local i
  for ((i = 0; i < STEP_TRIES; ++i)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}
has_window() { [ -n "$(windows "$1" "$2")" ] || ! kill -0 "$1" 2>/dev/null; }
no_window() { [ -z "$(windows "$1" "$2")" ]; }
ended() { ! kill -0 "$1" 2>/dev/null; }
wait_window() { wait_for has_window "$1" "$2" && [ -n "$(windows "$1" "$2")" ]; }
wait_gone() { wait_for no_window "$1" "$2"; }
wait_end() { wait_for ended "$1"; }

press() {  # press WINDOW KEY
  xdotool windowfocus "$1" 2>/dev/null
  xdotool key --clearmodifiers "$2"
}

# The runner makes the image first, and shows that the folder is free.
case_name=setup
"$runner" --data "$data" --keys off >"$work/run.log" 2>&1 || fail "the runner does not start: $(cat "$work/run.log")"

# Each case: what is done once the box is up.
for case_name in "ok, ctrl+q" "sigterm with the box open" "ok, sigterm"; do
  "$emu" --data "$data" --signal "$work/nofile.wav" >"$work/emu.log" 2>&1 &
  pid=$!
  if ! wait_window "$pid" "Load signal"; then
    fail "no error box: $(cat "$work/emu.log")"
  else
    box=$(windows "$pid" "Load signal" | head -n1)
    case $case_name in
      "ok, ctrl+q"|"ok, sigterm")
        press "$box" Return
        wait_gone "$pid" "Load signal" || fail "Return did not close the box"
        if [ "$case_name" = "ok, ctrl+q" ]; then
          main=$(windows "$pid" "Tarvik-2 Emulator*" | head -n1)
          [ -n "$main" ] || fail "the window is gone with the box"
          press "$main" ctrl+q
        else
          kill -TERM "$pid"
        fi
        ;;
      *) kill -TERM "$pid" ;;
    esac
  fi
  if ! wait_end "$pid"; then
    fail "the program still runs"
    kill -KILL "$pid" 2>/dev/null
  fi
  wait "$pid"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status: $(cat "$work/emu.log")"
  n=$(grep -c "nofile.wav" "$work/emu.log")
  [ "$n" -eq 1 ] || fail "the file is named $n times on standard error: $(cat "$work/emu.log")"
  if ! "$runner" --data "$data" --keys off >"$work/run.log" 2>&1; then
    fail "the next program is refused: $(cat "$work/run.log")"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all cases passed"
