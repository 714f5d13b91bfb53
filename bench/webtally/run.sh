#!/bin/sh
# Benchmark of webtally's pages through a web server, by hand:
#
#   bench/webtally/run.sh [build-dir] [requests]     (defaults: build, 200)
#
# One user with a year of priced usage (12 months of 10 services in three
# groups, their descriptions in the tables) and two account entries a month,
# in the stand-in database server with a statement log. lighttpd serves,
# behind basic authentication and pinned to 3 cores (taskset -c 0-2),
# webtally and a trivial CGI (a compiled C program that writes the bytes
# webtally writes for the same page) for two pages:
#
#   services  the 12 months x 10 services table (statistic html)
#   totals    total() four times, as the sample node's total page has it
#
# Printed per page: the statements one request sends (exact, from the
# server's log, with the target), the milliseconds per request of webtally
# and of the trivial CGI, their ratio and its target (services at most 3,
# totals at most 2). Each timing is a batch of `requests' requests made by 8
# clients at once, each a keep-alive connection of curl; the batches of the
# two CGIs take turns, five of each, and the medians are compared.
#
# The programs see the node's main configuration through an overlay over
# /etc in a private mount namespace (scripts/with-etc). Everything is in a
# temporary folder, removed on exit, and nothing is left running.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
requests=${2:-200}
rounds=5
case $build in
  /*) bin=$build/bin ;;
  *) bin=$root/$build/bin ;;
esac
for p in webtally dbserver benchreplay; do
  [ -x "$bin/$p" ] || { echo "run.sh: $bin/$p is missing; build first" >&2; exit 1; }
done
for p in curl /usr/sbin/lighttpd python3 cc; do
  command -v "$p" >/dev/null || { echo "run.sh: $p is needed" >&2; exit 1; }
done

base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; fi
work=$(mktemp -d "$base/webtally-bench.XXXXXX")
server=
web=
cleanup() {
  # lighttpd runs under with-etc, which ends once the server has ended.
  [ -s "$work/web/lighttpd.pid" ] && kill "$(cat "$work/web/lighttpd.pid")" 2>/dev/null
  [ -n "$server" ] && kill "$server" 2>/dev/null
  for pid in $web $server; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# Waits up to 10 seconds for a command to succeed while process $1 runs.
up() {
  pid=$1
  shift
  i=0
  until "$@"; do
    kill -0 "$pid" 2>/dev/null && [ $i -lt 200 ] || return 1
    sleep 0.05
    i=$((i + 1))
  done
}

home=$work/home
mkdir -p "$home/forms" "$home/locks" "$home/userbase/ann" "$work/db" "$work/etc/upper" "$work/etc/work" "$work/web/htdocs"
cp "$root/examples/node/messages.en" "$home/"
echo "en messages.en" > "$home/languages.cf"
cat > "$home/webtally.cf" <<'CF'
services  =services.html
totals    =totals.html
nouser    =services.html
baduser   =services.html
default   =services.html
CF
echo '@statistic html begin=2024.1.1 end=2024.12.1@' > "$home/forms/services.html"
cat > "$home/forms/totals.html" <<'FORM'
<H2>What you owe</H2>
@if value=total()<0@
<P>Your balance less this month's charges: <B>@total@</B><BR>
To pay: @print value=0-total() bywords@</P>
@else@
<P>Your balance less this month's charges: <B>@total@</B><BR>
Paid in advance: @print value=total() bywords@</P>
@fi@
<P>With VAT: @total withvat@</P>
FORM
printf 'language en\nprices std\npostmaster ann@node.example\n' > "$home/userbase/ann/user.cf"
cat > "$work/etc/upper/korvix-1.3.conf" <<CONF
home-dir $home
domain @node.example
sql-socket $work/db.sock
sql-database bench
language en
taxes 0.2
currency-precision 0.01
CONF

# The year of ann: services s01..s10 in groups misc, s00000001 and s00000002.
python3 - "$work/rows.sql" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    rid = 0
    for month in range(1, 13):
        for n in range(1, 11):
            rid += 1
            group = "misc" if n <= 2 else "s00000001" if n <= 6 else "s00000002"
            f.write("INSERT INTO statistic (id,user,date,name,group,lang,amount,sname,sum) VALUES "
                    "(%d,'ann',2024%02d00,'s%02d','%s','en',%d.5,'min',%d.25)\n" % (rid, month, n, group, n * month, n * 10))
        f.write("INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (%d,'ann',2024%02d01,-900.5,'Services',0)\n" % (2 * month, month))
        f.write("INSERT INTO accounts (id,user,date,sum,cmt,flag) VALUES (%d,'ann',2024%02d05,1000,'Payment',0)\n" % (2 * month + 1, month))
    for n in range(1, 11):
        f.write("INSERT INTO snames (id,lang,name,descr) VALUES (%d,'en','s%02d','Service number %d of the node')\n" % (n, n, n))
    f.write("INSERT INTO sgroups (id,lang,name,descr) VALUES (1,'en','s00000001','Internet access')\n")
    f.write("INSERT INTO sgroups (id,lang,name,descr) VALUES (2,'en','s00000002','Mail and hosting')\n")
PY
"$bin/dbserver" -D "$work/db" --init bench >/dev/null
"$bin/dbserver" -D "$work/db" -s "$work/db.sock" -l "$work/statements.log" >"$work/db.out" 2>&1 &
server=$!
up "$server" test -S "$work/db.sock" || { echo "run.sh: the database server did not start" >&2; exit 1; }
"$bin/benchreplay" "$work/db.sock" bench "$work/rows.sql" >/dev/null

run() {
  "$root/scripts/with-etc" "$work/etc/upper" "$work/etc/work" "$@"
}
query() { echo "what=$1&date=2024.12.15"; }

# What webtally writes for each page, header lines and all, is the trivial
# CGI's page; the statements of that one request are counted on the way.
for page in services totals; do
  before=$(wc -l < "$work/statements.log")
  run env REQUEST_METHOD=GET REMOTE_USER=ann AUTH_TYPE=Basic QUERY_STRING="$(query $page)" \
    "$bin/webtally" > "$work/$page.cgi" 2>"$work/$page.err"
  [ -s "$work/$page.err" ] && { echo "run.sh: webtally complained:" >&2; cat "$work/$page.err" >&2; exit 1; }
  eval "statements_$page=$(($(wc -l < "$work/statements.log") - before))"
  cat > "$work/web/$page.c" <<C
#include <stdio.h>
int main(void) {
  FILE *page = fopen("$work/$page.cgi", "rb");
  char buffer[65536];
  size_t n;
  while (page && (n = fread(buffer, 1, sizeof buffer, page)) > 0) fwrite(buffer, 1, n, stdout);
  return 0;
}
C
  cc -O2 -o "$work/web/$page" "$work/web/$page.c"
done

printf 'ann:secret\n' > "$work/web/users"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/web/lighttpd.conf" <<CONF
server.modules = ("mod_alias", "mod_auth", "mod_authn_file", "mod_cgi")
server.document-root = "$work/web/htdocs"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/web/error.log"
server.pid-file = "$work/web/lighttpd.pid"
alias.url = ("/cgi-bin/webtally" => "$bin/webtally", "/cgi-bin/services" => "$work/web/services",
             "/cgi-bin/totals" => "$work/web/totals")
cgi.assign = ("" => "")
auth.backend = "plain"
auth.backend.plain.userfile = "$work/web/users"
auth.require = ("/cgi-bin/" => ("method" => "basic", "realm" => "bench", "require" => "valid-user"))
CONF
pin=
command -v taskset >/dev/null && pin="taskset -c 0-2"
run $pin /usr/sbin/lighttpd -D -f "$work/web/lighttpd.conf" &
web=$!
up "$web" curl -s -o /dev/null "http://127.0.0.1:$port/" ||
  { echo "run.sh: lighttpd did not start:" >&2; cat "$work/web/error.log" >&2; exit 1; }

url() { echo "http://127.0.0.1:$port/cgi-bin/$1?$(query "$2")"; }
# Seconds for $requests requests of a URL by 8 clients at once.
batch() {
  t0=$(date +%s.%N)
  clients=
  for c in 1 2 3 4 5 6 7 8; do
    curl -s -f -u ann:secret "$1&n=[1-$((requests / 8))]" > /dev/null &
    clients="$clients $!"
  done
  wait $clients
  t1=$(date +%s.%N)
  echo "$t0 $t1" | awk '{ printf "%.6f\n", $2 - $1 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

requests=$((requests / 8 * 8))
echo "== webtally against a trivial compiled CGI writing the same bytes, through lighttpd on 3 cores"
echo "   ($requests requests a batch by 8 clients, medians of $rounds)"
printf '%-9s %10s %8s %14s %14s %8s %8s\n' page statements target "webtally ms" "trivial ms" ratio target
for page in services totals; do
  a=$(curl -s -f -u ann:secret "$(url webtally $page)" | cksum)
  b=$(curl -s -f -u ann:secret "$(url $page $page)" | cksum)
  [ "$a" = "$b" ] || { echo "run.sh: the trivial CGI's $page page differs from webtally's" >&2; exit 1; }
  : > "$work/w.times"
  : > "$work/t.times"
  r=0
  while [ $r -lt $rounds ]; do
    if [ $((r % 2)) -eq 0 ]; then
      batch "$(url webtally $page)" >> "$work/w.times"
      batch "$(url $page $page)" >> "$work/t.times"
    else
      batch "$(url $page $page)" >> "$work/t.times"
      batch "$(url webtally $page)" >> "$work/w.times"
    fi
    r=$((r + 1))
  done
  if [ $page = services ]; then target=30 most=3; else target=4 most=2; fi
  eval "statements=\$statements_$page"
  awk -v p=$page -v s="$statements" -v t=$target -v m=$most -v n="$requests" -v w="$(median < "$work/w.times")" \
      -v c="$(median < "$work/t.times")" 'BEGIN {
    printf "%-9s %10d %8s %14.3f %14.3f %8.2f %8s %s\n", p, s, "<= " t, 1000 * w / n, 1000 * c / n, w / c,
      "<= " m, (w / c <= m ? "met" : "NOT met") }'
done
