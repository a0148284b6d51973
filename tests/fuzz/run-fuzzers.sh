#!/bin/sh
# Runs every fuzz target for a bounded time on a copy of its seed corpus and
# prints executions per second and in total. Exit status 1 on any finding.
#   tests/fuzz/run-fuzzers.sh BUILD_DIR [SECONDS]
set -eu
. "$(dirname "$0")/../../cmake/script-help.sh"
script_help "$0" "${1-}"
build=$1
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
printf '%-20s %12s %14s %s\n' target exec/s executions result
for target in nim_sockets result_line settings guide_crc skylist known strategy; do
  mkdir -p "$work/$target"
  cp "$here/corpus/$target/"* "$work/$target/"
  if (cd "$work" && "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/crash-$target-" "$work/$target" > "$work/$target.log" 2>&1); then
    result=clean
  else
    result=FINDING
    status=1
    tail -n 40 "$work/$target.log"
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$target.log")
  printf '%-20s %12s %14s %s\n' "$target" "${rate:-?}" "${execs:-?}" "$result"
done
exit $status
