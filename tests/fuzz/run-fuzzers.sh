#!/bin/sh
# Runs the fuzz entry points built in BUILD (all of them, or those named)
# for SECONDS each with a memory limit of RSS_MB, one after the other, each
# starting from its seed corpus and reproducers. New inputs collect in
# BUILD/fuzz/corpus/NAME, inputs that fail in BUILD/fuzz/artifacts, each
# run's output in BUILD/fuzz/NAME.log. Prints one line per entry point and
# ends with status 1 when any of them failed.
#   run-fuzzers.sh BUILD SECONDS RSS_MB [NAME...]
set -u
build=$1 seconds=$2 rss=$3
shift 3
src=$(cd "$(dirname "$0")" && pwd)
out=$build/fuzz
[ $# -gt 0 ] || set -- $(cd "$src/corpus" && ls)
mkdir -p "$out/artifacts"
failed=0
for name in "$@"; do
  case $name in
    msql_reply) maxlen=65536 ;;  # answers up to two full packets
    readstring) maxlen=16384 ;;  # lines around the 2048-byte buffers
    *) maxlen=4096 ;;
  esac
  mkdir -p "$out/corpus/$name"
  seeds="$src/corpus/$name"
  [ -d "$src/reproducers/$name" ] && seeds="$seeds $src/reproducers/$name"
  "$build/bin/fuzz_$name" -max_total_time="$seconds" -rss_limit_mb="$rss" -timeout=25 -max_len=$maxlen \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$out/artifacts/$name-" \
    "$out/corpus/$name" $seeds >"$out/$name.log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$name.log")
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$out/$name.log" | tail -1)
  if [ $status -eq 0 ]; then verdict=ok; else verdict="FAILED (status $status, see $out/$name.log)"; failed=1; fi
  echo "$name: ${runs:-0} executions, ${cov:-no coverage}, $verdict"
done
exit $failed
