#!/bin/sh
# Benchmark of tallymill's monthly run, by hand:
#
#   bench/tallymill/run.sh [build-dir] [users...]     (defaults: build, 1000 10000)
#
# For each size: a node of that many users with ten services each (one price
# list with formulas over counters, two counter files per user), the stand-in
# database server with a statement log, and `tallymill -a` in database mode.
# Then the statements tallymill sent, taken from the server's log, are
# replayed through the client library alone (benchreplay) against a second
# database initialised the same way, on the same server. Each size runs
# twice: with the databases in memory (/dev/shm) and on the disk. Printed per
# size and place: users per second, tallymill's peak resident memory, the
# ratio of tallymill's wall time to the replay's, tallymill's statements per
# user (exact counts from the log: in all and by statement and table, against
# the target of at most services + 4 per user), and at the end the ratio of
# the disk run's wall time to the memory run's.
#
# Both wall times are of the whole process (start to exit), measured by
# benchtime, which also reads the peak memory from the kernel's accounting of
# the child. The folder in memory is BENCH_TMPDIR, else /dev/shm when it is
# a writable directory, else TMPDIR or /tmp; the folder on the disk is
# BENCH_DISKDIR, else /var/tmp (a warning says so when it is in memory).
#
# Nothing is left running, and nothing is written outside the temporary
# folders and the build tree.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=build
if [ $# -gt 0 ]; then
  build=$1
  shift
fi
sizes=${*:-1000 10000}
case $build in
  /*) bin=$build/bin ;;
  *) bin=$root/$build/bin ;;
esac
for p in tallymill dbserver benchnode benchreplay benchtime; do
  if [ ! -x "$bin/$p" ]; then
    echo "run.sh: $bin/$p is missing; build first (make, or cmake --build $build)" >&2
    exit 1
  fi
done
command -v sqlite3 >/dev/null || { echo "run.sh: sqlite3 is needed to compare the databases" >&2; exit 1; }

# The temporary folders: in memory (for the node and the memory run) and on
# the disk.
base=${BENCH_TMPDIR:-}
if [ -z "$base" ]; then
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; else base=${TMPDIR:-/tmp}; fi
fi
diskbase=${BENCH_DISKDIR:-/var/tmp}
case $(stat -f -c %T "$diskbase") in
  tmpfs|ramfs) echo "warning: $diskbase is in memory, not on a disk" >&2 ;;
esac
work=$(mktemp -d "$base/tallymill-bench.XXXXXX")
diskwork=$(mktemp -d "$diskbase/tallymill-bench.XXXXXX")
echo "(memory: $base, disk: $diskbase)"
server=

stop_server() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=
  fi
}
cleanup() {
  stop_server
  rm -rf "$work" "$diskwork"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs a program of the system with the main configuration in $dir/etc/upper
# seen through an overlay over /etc in a private mount namespace.
run() {
  "$root/scripts/with-etc" "$dir/etc/upper" "$dir/etc/work" "$@"
}

# Processor seconds the database server has used so far (user and system,
# from /proc), to tell its share of a wall time from the client's.
server_cpu() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); printf "%.2f", ($12 + $13) / hz }' "/proc/$server/stat"
}

# A field of a benchtime report: value KEY FILE.
value() {
  awk -v key="$1" '{ for (i = 1; i < NF; i++) if ($i == key) print $(i + 1) }' "$2"
}

# Statements of a log file per user, in all and by kind (statement word and
# table), with the target of at most services + 4: per_user FILE USERS ROWS.
per_user() {
  awk -v u="$2" -v r="$3" '{
    t = $2
    if ($1 != "UPDATE") for (i = 2; i < NF; i++) if ($i == "FROM" || $i == "INTO") { t = $(i + 1); break }
    n[$1 " " t]++
  } END {
    printf "   statements per user %.2f (target: at most services + 4 = %.2f)\n", NR / u, r / u + 4
    for (k in n) printf "     %-18s %8d  %6.2f per user\n", k, n[k], n[k] / u | "sort"
  }' "$1"
}

# The tables tallymill writes, in a fixed order, for comparing two databases.
dump() {
  for t in statistic ids sgroups snames; do
    sqlite3 "$1" "SELECT * FROM $t ORDER BY 1, 2"
  done
}

# run_place users place folder: the server with its databases in folder,
# tallymill -a against it and the replay; prints the figures and adds a line
# to the summary. The node is $dir.
run_place() {
  users=$1 place=$2 db=$3
  mkdir -p "$db/data"
  # Two databases initialised alike: the one tallymill fills and the one the
  # replay fills, each with the month's rate of the service priced in USD.
  echo "INSERT INTO rates (id,date,name,rate) VALUES (1,20240301,'USD',92.5)" > "$db/setup.sql"
  "$bin/dbserver" -D "$db/data" --init bench
  "$bin/dbserver" -D "$db/data" --init replay
  "$bin/dbserver" -D "$db/data" -s "$dir/db.sock" -l "$db/statements.log" >"$db/server.out" 2>&1 &
  server=$!
  i=0
  while [ ! -S "$dir/db.sock" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
  [ -S "$dir/db.sock" ] || { echo "run.sh: the database server did not start" >&2; exit 1; }
  "$bin/benchreplay" "$dir/db.sock" bench "$db/setup.sql" >/dev/null
  "$bin/benchreplay" "$dir/db.sock" replay "$db/setup.sql" >/dev/null
  skip=$(wc -l < "$db/statements.log")
  cpu0=$(server_cpu)

  if [ "$place" = disk ]; then where="on the disk"; else where="in memory"; fi
  echo "== $users users, databases $where: tallymill -a, then the replay of its statements"
  if ! run "$bin/benchtime" "$db/tallymill.time" "$bin/tallymill" -a >"$db/tallymill.out" 2>&1; then
    echo "run.sh: tallymill failed:" >&2
    cat "$db/tallymill.out" >&2
    exit 1
  fi
  tail -n +"$((skip + 1))" "$db/statements.log" > "$db/tallymill.sql"
  statements=$(wc -l < "$db/tallymill.sql")
  cpu1=$(server_cpu)

  if ! "$bin/benchtime" "$db/replay.time" "$bin/benchreplay" "$dir/db.sock" replay "$db/tallymill.sql" \
      >"$db/replay.out" 2>&1; then
    echo "run.sh: the replay failed:" >&2
    cat "$db/replay.out" >&2
    exit 1
  fi
  cpu2=$(server_cpu)
  srv_tm=$(awk -v a="$cpu0" -v b="$cpu1" 'BEGIN { printf "%.2f", b - a }')
  srv_rp=$(awk -v a="$cpu1" -v b="$cpu2" 'BEGIN { printf "%.2f", b - a }')
  stop_server

  # The replay must have done the same work: the same rows in both databases.
  dump "$db/data/bench.db" > "$db/bench.dump"
  dump "$db/data/replay.db" > "$db/replay.dump"
  if ! cmp -s "$db/bench.dump" "$db/replay.dump"; then
    echo "run.sh: the replayed database differs from tallymill's" >&2
    exit 1
  fi
  rows=$(sqlite3 "$db/data/bench.db" "SELECT count(*) FROM statistic")
  if [ -s "$home/Logfile" ]; then
    echo "warning: tallymill logged $(wc -l < "$home/Logfile") lines, the first:" >&2
    head -n 3 "$home/Logfile" >&2
    : > "$home/Logfile"
  fi

  tm=$(value seconds "$db/tallymill.time")
  tmcpu=$(value cpu "$db/tallymill.time")
  rss=$(value maxrss_kb "$db/tallymill.time")
  rp=$(value seconds "$db/replay.time")
  rpcpu=$(value cpu "$db/replay.time")
  awk -v u="$users" -v s="$statements" -v r="$rows" -v tm="$tm" -v tc="$tmcpu" -v ts="$srv_tm" \
      -v rss="$rss" -v rp="$rp" -v rc="$rpcpu" -v rs="$srv_rp" 'BEGIN {
    printf "   %d rows of statistic, %d statements\n", r, s
    printf "   tallymill  %8.2f s wall %7.2f s cpu (server %7.2f s cpu)  %7.1f users/s  peak %d kB\n", tm, tc, ts, u / tm, rss
    printf "   replay     %8.2f s wall %7.2f s cpu (server %7.2f s cpu)\n", rp, rc, rs
    printf "   ratio      %8.3f\n", tm / rp }'
  # The same statements in both places: their count is shown once.
  [ "$place" = disk ] || per_user "$db/tallymill.sql" "$users" "$rows"
  summary="$summary$(awk -v u="$users" -v p="$place" -v s="$statements" -v tm="$tm" -v rss="$rss" -v rp="$rp" 'BEGIN {
    printf "%7d %-6s %11d %9.2f %12.2f %9.1f %8d %9.2f %6.3f", u, p, s, s / u, tm, u / tm, rss, rp, tm / rp }')
"
  eval "seconds_$place=\$tm"
  rm -rf "$db"
}

summary=
ondisk=
for users in $sizes; do
  dir=$work/$users
  mkdir -p "$dir/mail" "$dir/etc/upper" "$dir/etc/work"
  home=$dir/home
  "$bin/benchnode" "$home" "$users"
  cat > "$dir/etc/upper/korvix-1.3.conf" <<CONF
home-dir $home
domain @node.example
sql-socket $dir/db.sock
sql-database bench
mailer $root/platform/mailcapture/capture-mail $dir/mail -f%s
language en
taxes 0.2
currency-precision 0.01
CONF
  run_place "$users" memory "$dir/db"
  run_place "$users" disk "$diskwork/$users"
  ondisk="$ondisk$(awk -v u="$users" -v m="$seconds_memory" -v d="$seconds_disk" 'BEGIN {
    printf "%7d %12.2f %12.2f %8.2f", u, m, d, d / m }')
"
  rm -rf "$dir"
done

echo
echo "== summary (ratio: tallymill's wall time over the replay's; target: at most 1.2, and peak memory flat)"
echo "  users place   statements  per user  tallymill s   users/s  peak kB  replay s  ratio"
printf '%s' "$summary"
echo
echo "== on disk against in memory (tallymill's wall time; target: at most 2x)"
echo "  users     memory s       disk s     disk/memory"
printf '%s' "$ondisk"
