#!/bin/sh
# The main job on the sample node: the users listed, a month of mail traffic
# measured into per-user counter files, the month's US dollar rate stored, then
# every user's counters priced into table `statistic`, once in database mode
# and once as text lines, and the month and two payments booked into the
# users' accounts.
#
# Everything happens in a temporary folder: a copy of examples/node as the
# home directory, the stand-in database server on its own UNIX socket, a
# mailer that keeps each mail as a file, and the main configuration, which the
# programs see through an overlay over /etc in a private mount namespace.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
bin=$root/$build/bin
work=$(mktemp -d /tmp/korvix-demo.XXXXXX)
server=

cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    server=
  fi
  rm -rf "$work"
}
# Also when the output is cut short (a pager or head closing the pipe).
trap cleanup EXIT
trap 'cleanup; exit 1' INT TERM HUP PIPE

home=$work/home
cp -a "$root/examples/node" "$home"
mkdir -p "$home/locks" "$work/db" "$work/mail" "$work/etc/upper" "$work/etc/work"


cat > "$work/etc/upper/korvix-1.3.conf" <<CONF
home-dir $home
domain @node.example
sql-socket $work/db.sock
sql-database demo
mailer $root/platform/mailcapture/capture-mail $work/mail -f%s
language ru
taxes 0.2
currency-precision 0.01
currency-thousands " "
CONF

# Runs a program of the system with the demo's configuration.
run() {
  "$root/scripts/with-etc" "$work/etc/upper" "$work/etc/work" "$@"
}

"$bin/dbserver" -D "$work/db" --init demo
"$bin/dbserver" -D "$work/db" -s "$work/db.sock" -l "$work/statements.log" &
server=$!
i=0
while [ ! -S "$work/db.sock" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done

echo "== rollcall (every user of the base)"
run "$bin/rollcall"
echo "== rollcall -o -p (the directories of the users not closed)"
run "$bin/rollcall" -o -p | sed "s|^$home/||"
echo

echo "== postmeter -o ~mail.st traffic (mail traffic into each user's counter file)"
run "$bin/postmeter" -o "~mail.st" "$home/traffic"
for f in "$home"/userbase/*/*/mail.st "$home"/userbase/*/*/*/mail.st; do
  [ -f "$f" ] || continue
  echo "-- ${f#$home/}"
  cat "$f"
done
echo

month=$(cat "$home/.month")
year=$(echo "$month" | cut -c1-4)
month=$(echo "$month" | cut -c5-6)
echo "== fxpost USD 92.5 1 $month $year (the dollar's rate from the first of the month)"
run "$bin/fxpost" USD 92.5 1 "$month" "$year" 2>&1 | iconv -f KOI8-R -t UTF-8
sqlite3 -header -column "$work/db/demo.db" 'SELECT id, date, name, rate FROM rates ORDER BY id'
echo

echo "== tallymill -a (database mode, month from .month: $(cat "$home/.month"))"
run "$bin/tallymill" -a
echo
echo "== rows of table statistic"
sqlite3 -header -column "$work/db/demo.db" \
  'SELECT id, user, date, name, "group", lang, amount, sname, sum FROM statistic ORDER BY id'
echo
echo "== service groups and descriptions"
sqlite3 -header -column "$work/db/demo.db" 'SELECT id, lang, name, descr FROM sgroups ORDER BY id'
sqlite3 -header -column "$work/db/demo.db" 'SELECT id, lang, name, descr FROM snames ORDER BY id' | iconv -f KOI8-R -t UTF-8
echo
echo "== tallymill -a -o - (text mode)"
run "$bin/tallymill" -a -o - | iconv -f KOI8-R -t UTF-8
echo

# anton shares alice's account: his entries go there, naming him.
echo "== ledgerctl -a statistic $year $month (the month charged to the accounts)"
run "$bin/ledgerctl" -a statistic "$year" "$month"
echo "== ledgerctl -u john income 4200 payment v (a payment, then the VAT in it taken out)"
run "$bin/ledgerctl" -u john income 4200 payment v
echo "== ledgerctl -u anton income 3000 payment"
run "$bin/ledgerctl" -u anton income 3000 payment
echo "== ledgerctl -a statistic $year $month once more (no month is charged twice)"
run "$bin/ledgerctl" -a statistic "$year" "$month" 2>&1 | iconv -f KOI8-R -t UTF-8
echo "== rows of table accounts"
sqlite3 -header -column "$work/db/demo.db" 'SELECT id, user, date, sum, cmt, flag FROM accounts ORDER BY id' |
  iconv -f KOI8-R -t UTF-8
echo
echo "== Logfile"
iconv -f KOI8-R -t UTF-8 "$home/Logfile" 2>/dev/null || true
echo
echo "== mail to the administrator"
for m in "$work"/mail/*; do
  [ -f "$m" ] || continue
  echo "-- $(basename "$m")"
  iconv -f KOI8-R -t UTF-8 "$m"
done
