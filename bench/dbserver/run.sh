#!/bin/sh
# Benchmark of the stand-in database server against the engine's own shell,
# by hand:
#
#   bench/dbserver/run.sh [build-dir] [inserts] [selects]   (defaults: build, 20000, 5000)
#
# Two loads, each run by the server and by its floor, the sqlite3 shell:
#
#   inserts  `inserts' single INSERTs of statistic rows (the shape tallymill
#            sends), each its own statement, on a new database
#   selects  `selects' SELECTs of one user's rows of statistic (20 rows
#            each, by the index on user) on a database of `inserts' rows
#
# The server is driven through its wire protocol by benchreplay (the
# project's client library, one connection, every statement sent and its
# answer read); the shell runs the same statements, with the identifiers in
# double quotes, in autocommit with the server's settings (journal_mode=WAL,
# synchronous=NORMAL), its output thrown away. Every run starts from a copy
# of the same database made by `dbserver --init'. The runs of the two take
# turns, five of each, their whole wall times are measured by benchtime, and
# the medians are compared against the targets (inserts 2, selects 1.5).
#
# Figures are meant for an optimised build (cmake -DCMAKE_BUILD_TYPE=Release);
# the default build is not optimised. Everything is pinned to the CPUs of BENCH_CPUS (default 0-2) with taskset;
# the load average of the machine is printed before and after. The files are
# in BENCH_TMPDIR, else /dev/shm when writable, else /tmp; the folder is
# removed on exit and nothing is left running.
set -eu
cpus=${BENCH_CPUS:-0-2}
if [ -z "${BENCH_PINNED:-}" ]; then
  command -v taskset >/dev/null || { echo "run.sh: taskset is needed" >&2; exit 1; }
  BENCH_PINNED=1 exec taskset -c "$cpus" "$0" "$@"
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
inserts=${2:-20000}
selects=${3:-5000}
rounds=5
case $build in
  /*) bin=$build/bin ;;
  *) bin=$root/$build/bin ;;
esac
for p in dbserver benchreplay benchtime; do
  [ -x "$bin/$p" ] || { echo "run.sh: $bin/$p is missing; build first" >&2; exit 1; }
done
shell=$(command -v sqlite3 || true)
for p in sqlite3 python3; do
  command -v "$p" >/dev/null || { echo "run.sh: $p is needed" >&2; exit 1; }
done

base=${BENCH_TMPDIR:-}
if [ -z "$base" ]; then
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; else base=${TMPDIR:-/tmp}; fi
fi
work=$(mktemp -d "$base/dbserver-bench.XXXXXX")
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  [ -n "$server" ] && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The statements: for the server in its dialect, for the shell with every
# identifier quoted (group is a keyword of the engine). Users u0..u999,
# inserts/1000 rows each.
python3 - "$work" "$inserts" "$selects" <<'PY'
import sys
work, inserts, selects = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
users = 1000
cols = ("id", "user", "date", "name", "group", "lang", "amount", "sname", "sum")
def statements(quote):
    q = (lambda n: '"%s"' % n) if quote else (lambda n: n)
    names = ",".join(q(c) for c in cols)
    ins = ["INSERT INTO %s (%s) VALUES (%d,'u%d',%d,'s%02d','s00000001','en',%d.5,'min',%d.25)"
           % (q("statistic"), names, i + 1, i % users, 20240000 + (i // users % 12 + 1) * 100,
              i % 10, i % 97, i % 1009) for i in range(inserts)]
    sel = ["SELECT %s FROM %s WHERE %s='u%d'" % (names, q("statistic"), q("user"), (i * 7919) % users)
           for i in range(selects)]
    return ins, sel
for quote, suffix in ((False, "wire"), (True, "shell")):
    ins, sel = statements(quote)
    for name, lines in (("inserts", ins), ("selects", sel)):
        with open("%s/%s.%s" % (work, name, suffix), "w") as f:
            if quote:
                f.write("PRAGMA journal_mode=WAL;\nPRAGMA synchronous=NORMAL;\n")
            f.write("".join(l + (";\n" if quote else "\n") for l in lines))
with open(work + "/fill.shell", "w") as f:
    f.write("BEGIN;\n" + "".join(l + ";\n" for l in statements(True)[0]) + "COMMIT;\n")
PY

mkdir "$work/db" "$work/shell"
"$bin/dbserver" -D "$work" --init template >/dev/null
sqlite3 "$work/template.db" "PRAGMA journal_mode=WAL" >/dev/null
cp "$work/template.db" "$work/filled.db"
sqlite3 "$work/filled.db" < "$work/fill.shell" >/dev/null
"$bin/dbserver" -D "$work/db" -s "$work/db.sock" >"$work/db.out" 2>&1 &
server=$!
i=0
until [ -S "$work/db.sock" ]; do
  kill -0 "$server" 2>/dev/null && [ $i -lt 200 ] || { echo "run.sh: the server did not start" >&2; exit 1; }
  sleep 0.05
  i=$((i + 1))
done

# Wall seconds of one run: $1 load, $2 who (wire or shell), $3 round.
run() {
  if [ "$1" = inserts ]; then from=template; else from=filled; fi
  if [ "$2" = wire ]; then
    cp "$work/$from.db" "$work/db/r$3.db"
    "$bin/benchtime" "$work/time" "$bin/benchreplay" "$work/db.sock" "r$3" "$work/$1.wire" >/dev/null
  else
    cp "$work/$from.db" "$work/shell/r$3.db"
    "$bin/benchtime" "$work/time" "$shell" "$work/shell/r$3.db" < "$work/$1.shell" >/dev/null
  fi
  read -r _ seconds _ < "$work/time"
  echo "$seconds"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "== dbserver through its wire protocol against the sqlite3 shell (CPUs $cpus, medians of $rounds)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %10s %8s %12s %12s %8s\n' load statements target "server s" "shell s" ratio
n=0
for load in inserts selects; do
  : > "$work/wire.times"
  : > "$work/shell.times"
  r=0
  while [ $r -lt $rounds ]; do
    n=$((n + 1))
    if [ $((r % 2)) -eq 0 ]; then
      run $load wire $n >> "$work/wire.times"
      run $load shell $n >> "$work/shell.times"
    else
      run $load shell $n >> "$work/shell.times"
      run $load wire $n >> "$work/wire.times"
    fi
    r=$((r + 1))
  done
  # Both made the same rows.
  if [ $load = inserts ]; then
    a=$(sqlite3 "$work/db/r$n.db" "SELECT count(*), total(sum) FROM statistic")
    b=$(sqlite3 "$work/shell/r$n.db" "SELECT count(*), total(sum) FROM statistic")
    [ "$a" = "$b" ] || { echo "run.sh: the server stored $a, the shell $b" >&2; exit 1; }
    target=2
    count=$inserts
  else
    target=1.5
    count=$selects
  fi
  awk -v l=$load -v c="$count" -v t=$target -v w="$(median < "$work/wire.times")" \
      -v s="$(median < "$work/shell.times")" 'BEGIN {
    printf "%-8s %10d %8s %12.3f %12.3f %8.2f\n", l, c, "<= " t, w, s, w / s }'
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
