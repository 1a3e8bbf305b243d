#!/usr/bin/env bash
# Runs every fuzz target for SECONDS seconds, one after the other, and
# prints for each the executions, the executions per second and any crash
# with the file that reproduces it.
#   run_fuzz.sh BUILD_FOLDER [SECONDS]
# BUILD_FOLDER holds the fuzz_<name> programs and targets.txt (name and
# longest input of each). The committed seeds (corpus/<name>/ here) are
# read, never written; new inputs go to BUILD_FOLDER/work/<name>/, crashes
# to BUILD_FOLDER/findings/<name>/. Exit status 1 when anything was found.
set -uo pipefail

build=${1:?usage: run_fuzz.sh BUILD_FOLDER [SECONDS]}
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
list=$build/targets.txt
[ -s "$list" ] || { echo "run_fuzz.sh: no targets in $list" >&2; exit 2; }

found_any=0
rows=()
while read -r name max_len; do
  [ -n "$name" ] || continue
  work=$build/work/$name
  findings=$build/findings/$name
  log=$build/logs/$name.log
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  marker=$(mktemp)
  echo "== $name: ${seconds} s"
  "$build/fuzz_$name" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$here/corpus/$name" >"$log" 2>&1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  new=$(find "$findings" -type f -newer "$marker" | sort)
  rm -f "$marker"
  if [ -n "$new" ]; then
    found_any=1
    echo "   FOUND (log: $log):"
    grep -m 3 -E "ERROR: |fuzz check failed|runtime error" "$log" | sed 's/^/     /'
    for f in $new; do
      echo "     reproduce: $build/fuzz_$name $f"
      echo "     keep:      cp $f $here/reproducers/$name/"
    done
  fi
  rows+=("$(printf '%-14s %14s %10s  %s' "$name" "${execs:-?}" "${speed:-?}" "$([ -n "$new" ] && echo crash || echo none)")")
done <"$list"

echo
printf '%-14s %14s %10s  %s\n' target executions "exec/s" findings
for r in "${rows[@]}"; do echo "$r"; done
exit $found_any
