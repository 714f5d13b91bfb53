#!/bin/bash
# wtmpview's time against the number of terminal lines in its file.
#
#   bench/wtmpview/run.sh [build-dir [reference-build-dir]]
#
# build-dir defaults to "build". For each record layout (the 384-byte records
# of x86_64 and the 56-byte ones of 32-bit x86) it writes, in a temporary
# folder, two login-record files of $records records each: sessions on 4
# terminal lines and sessions on 400, every line's login following the
# logout of its previous session, with a reboot now and then. It times
#
#   wtmpview -f file > /dev/null
#
# on each (the best of $runs runs) and prints the time with 400 lines as a
# multiple of the time with 4 (target: at most 1.4). With a reference build
# (say of an earlier commit), its wtmpview runs on the 56-byte files too, its
# times stand beside this build's, and both outputs must be byte for byte the
# same. Then, on a file of 1M 56-byte records, it sets wtmpview writing its
# lines to a file beside its floor, `cat` copying those same lines to a file,
# both pinned to 3 cores, interleaved, and prints the ratio of the medians
# (target: at most 10). Nothing is written outside the temporary folder, which
# is removed on exit.
set -eu
export LC_ALL=C TZ=UTC

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
wtmpview=$build/bin/wtmpview
reference=
if [ $# -gt 1 ]; then
  case $2 in /*) reference=$2/bin/wtmpview ;; *) reference=$root/$2/bin/wtmpview ;; esac
fi
for p in "$wtmpview" $reference; do
  if [ ! -x "$p" ]; then
    echo "run.sh: no $p; build first (make build)" >&2
    exit 1
  fi
done
command -v python3 > /dev/null || { echo "run.sh: python3 writes the files" >&2; exit 1; }

records=200000
runs=5
work=$(mktemp -d "${TMPDIR:-/tmp}/wtmpview-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# records layout lines file: the login records, little-endian.
makeFile() {
  python3 - "$@" "$records" <<'PY'
import struct, sys
layout, lines, path, count = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
def rec(kind, line, t, user=b"", host=b""):
    if layout == "384":
        return struct.pack("<h2xi32s4s32s256s8xi4xI12x20x", kind, 1000, line, line[-2:], user, host, t, 0)
    return struct.pack("<h2xi12s2s2xi8s16sI", kind, 1000, line, line[-2:], t, user, host, 0)
t = 1700000000
with open(path, "wb") as out:
    k = 0
    while k < count:
        if k % 5000 == 4999:
            out.write(rec(2, b"~", t, b"reboot", b"6.1.0"))
            k += 1
            continue
        line = b"pts/%d" % (k // 2 % lines)
        if k % 2 == 0:
            out.write(rec(8, line, t))
        else:
            out.write(rec(7, line, t, b"u%d" % (k % 97), b"10.0.%d.%d" % (k % 7, k % 250)))
        t += 7
        k += 1
PY
}

# best program file: the shortest wall time of $runs runs in seconds, the
# output of the last run in $work/out.
best() {
  local i start end t least=
  for ((i = 0; i < runs; i++)); do
    start=$EPOCHREALTIME
    "$1" -f "$2" > "$work/out"
    end=$EPOCHREALTIME
    t=$((${end/./} - ${start/./}))
    if [ -z "$least" ] || [ "$t" -lt "$least" ]; then least=$t; fi
  done
  awk -v t="$least" 'BEGIN { printf "%.4f", t / 1e6 }'
}

echo "wtmpview bench: $wtmpview; $records records a file, best of $runs runs"
for layout in 384 56; do
  makeFile "$layout" 4 "$work/few"
  makeFile "$layout" 400 "$work/many"
  few=$(best "$wtmpview" "$work/few")
  many=$(best "$wtmpview" "$work/many")
  lines=$(grep -c '' "$work/out")
  echo
  echo "$layout-byte records ($lines lines of output with 400 terminal lines):"
  awk -v a="$few" -v b="$many" 'BEGIN {
    printf "  4 terminal lines %8.4f s, 400 terminal lines %8.4f s: %.2fx (target: at most 1.4), %s\n",
      a, b, b / a, (b / a <= 1.4 ? "met" : "NOT met") }'
  if [ -n "$reference" ] && [ "$layout" = 56 ]; then
    cp "$work/out" "$work/mine"
    rmany=$(best "$reference" "$work/many")
    cmp -s "$work/out" "$work/mine" || { echo "run.sh: the output differs from the reference build's" >&2; exit 1; }
    rfew=$(best "$reference" "$work/few")
    awk -v a="$rfew" -v b="$rmany" -v m="$many" 'BEGIN {
      printf "  reference: 4 terminal lines %8.4f s, 400 terminal lines %8.4f s: %.2fx; output byte-identical\n", a, b, b / a
      printf "  reference over this build with 400 terminal lines: %.2fx\n", b / m }'
  fi
done

# The floor: 1M records' lines written to a file against cat writing them.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
elapsed() {
  local start=$EPOCHREALTIME
  "$@"
  local end=$EPOCHREALTIME
  echo $((${end/./} - ${start/./}))
}
pin=()
command -v taskset > /dev/null && pin=(taskset -c 0-2)
records=1000000
makeFile 56 400 "$work/big"
"$wtmpview" -f "$work/big" > "$work/lines"
: > "$work/tw"; : > "$work/tc"
for ((i = 0; i < 2 * runs + 1; i++)); do
  elapsed "${pin[@]}" sh -c '"$0" -f "$1" > "$2"' "$wtmpview" "$work/big" "$work/copy" >> "$work/tw"
  elapsed "${pin[@]}" sh -c 'cat "$0" > "$1"' "$work/lines" "$work/copy" >> "$work/tc"
done
w=$(median < "$work/tw"); c=$(median < "$work/tc")
echo
awk -v w="$w" -v c="$c" -v n="$(grep -c '' "$work/lines")" 'BEGIN {
  printf "1M records, %d lines to a file: wtmpview %.4f s, cat %.4f s: %.2fx (target: at most 10), %s\n",
    n, w / 1e6, c / 1e6, w / c, (w / c <= 10 ? "met" : "NOT met") }'
