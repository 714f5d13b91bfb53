#!/bin/bash
# postmeter throughput and memory, measured against two floors.
#
#   bench/postmeter/run.sh [build-dir [reference-build-dir]]
#
# build-dir defaults to "build". With a reference build (another checkout's
# build folder, say of an earlier commit), its postmeter runs on the same
# nodes too: its times stand beside this build's, and the two outputs must
# be byte for byte the same. BENCH_USERS chooses the node sizes (default
# "100 1000").
#
# For a node of 100 and one of 1,000 users it makes, in a temporary folder,
# the user base (each user's mail.cf with a few classes, plus the common
# mail.cf) and a traffic file of 1,000,000 lines whose addresses repeat as in
# real traffic: a few heavy senders and recipients, many rare ones, and mail
# that passes between outside addresses only. It then times
#
#   postmeter -o - traffic > /dev/null         (on 200,000 and 1,000,000 lines)
#   grep -E -c -f patterns addresses           (the grep floor)
#   cat traffic > /dev/null                    (the cat floor)
#
# and prints lines per second, peak memory and postmeter's time as a multiple
# of each floor. The grep floor matches every pattern of every mail.cf,
# anchored as postmeter anchors them, against the normal forms of the same
# senders and recipients (written once, before any timing). Each figure is
# the best of $runs runs (a run over $slow seconds is not repeated); lines per
# second always count traffic lines.
#
# postmeter reads its main configuration from /etc, so every postmeter run
# sees the node's configuration through an overlay over /etc in a private
# mount namespace (unshare -m as root, unshare -rm otherwise), which ends with
# the run. Nothing is written outside the temporary folder, which is removed
# on exit, and nothing is left running.
#
# Peak memory comes from GNU time (/usr/bin/time, Debian package "time");
# without it the script samples the process's VmHWM from /proc instead, which
# may miss growth in the last few milliseconds of a run.
set -eu
export LC_ALL=C

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
postmeter=$build/bin/postmeter
reference=
if [ $# -gt 1 ]; then
  case $2 in /*) reference=$2/bin/postmeter ;; *) reference=$root/$2/bin/postmeter ;; esac
fi
for p in "$postmeter" $reference; do
  if [ ! -x "$p" ]; then
    echo "run.sh: no $p; build first (make build)" >&2
    exit 1
  fi
done
sizes=${BENCH_USERS:-100 1000}

lines=1000000
short=200000
runs=3
slow=20
gnutime=
if /usr/bin/time -f %M -o /dev/null true 2>/dev/null; then gnutime=/usr/bin/time; fi

work=$(mktemp -d "${TMPDIR:-/tmp}/postmeter-bench.XXXXXX")
child=
cleanup() {
  if [ -n "$child" ]; then
    kill -- -"$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  # Overlay work folders made in a user namespace may carry mode 000.
  chmod -R u+rwx "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the node ---------------------------------------------------------------

# makeNode dir users: home directory, user base and main configuration.
makeNode() {
  local dir=$1 users=$2 home=$1/home
  mkdir -p "$home/locks" "$home/userbase" "$dir/etc/upper" "$dir/etc/work"
  echo "en messages.en" > "$home/languages.cf"
  : > "$home/messages.en"
  printf 'home-dir %s\ndomain @node.example\n' "$home" > "$dir/etc/upper/korvix-1.3.conf"
  cat > "$home/mail.cf" <<'CF'
# Classes of every user, after the user's own.
class local
any [^!]*
any local!node\.example!.*
class domestic
any local![^!]*\.ru!.*
class inet
any .*
CF
  # A user's own addresses, and three or four service classes that vary
  # from user to user with the outside domains they name.
  awk -v users="$users" -v base="$home/userbase" 'BEGIN {
    for (i = 0; i < users; i++) {
      u = sprintf("u%04d", i)
      dir = base "/" u
      system("mkdir -p " dir)
      print "prices std.lst" > (dir "/user.cf")
      close(dir "/user.cf")
      f = dir "/mail.cf"
      print "# mail classes of " u > f
      print "class user" > f
      print "any " u " local!node\\.example!" u > f
      print "class friends" > f
      printf "any local!mail%d\\.example\\.org!.* local!mail%d\\.example\\.org!.*\n", \
        i % 97, (i * 7 + 3) % 97 > f
      print "class work" > f
      printf "to local!corp%d\\.example\\.com!.*\n", i % 10 > f
      printf "from local!corp%d\\.example\\.com!.*\n", i % 10 > f
      printf "except local!corp%d\\.example\\.com!p%d\n", i % 10, i % 10 > f
      print "class lists" > f
      print "from local!lists\\.example\\.net!.*   # mailing lists" > f
      if (i % 3 == 0) {
        print "class relay" > f
        printf "any gw!relay%d\\.example\\.de!.*\n", i % 7 > f
      }
      close(f)
    }
  }'
}

# makeTraffic users file: the traffic lines. Users and outside addresses are
# drawn with skewed weights (an index of n * rand()^k), so a few addresses
# carry much of the traffic and most turn up rarely.
makeTraffic() {
  awk -v users="$1" -v lines="$lines" -v outside=300000 'BEGIN {
    srand(9)
    for (n = 1; n <= lines; n++) {
      r = rand()
      if (r < 0.45)      { from = user(); to = other() }
      else if (r < 0.85) { from = other(); to = user() }
      else if (r < 0.95) { from = user(); to = user() }
      else               { from = other(); to = other() }
      size = int(300 + 200000 * rand() ^ 6)
      printf "%s %s %d q%06x %s\n", from, to, size, n, (r < 0.45 ? "smtp" : "local")
    }
  }
  function user(  i, u) {
    i = int(users * rand() ^ 2)
    u = sprintf("u%04d", i)
    return (i % 5 < 3) ? u : u "@node.example"
  }
  function other(  k, kind, p) {
    k = int(outside * rand() ^ 3)
    kind = k % 10
    p = "p" k
    if (kind <= 3) return p "@" (k % 13 == 0 ? "Mail" : "mail") (k % 97) ".example.org"
    if (kind <= 5) return p "@corp" (k % 10) ".example.com"
    if (kind == 6) return p "@lists.example.net"
    if (kind <= 8) return p "@host" (k % 53) ".example.RU"
    if (k % 20 == 9) return p "%relay" (k % 7) ".example.de@mx.example.de"
    return "gw!" p "@relay" (k % 7) ".example.de"
  }' > "$2"
}

# normalise traffic: the lower-case normal forms of senders and recipients,
# one a line. Covers the address forms that makeTraffic writes.
normalise() {
  awk '
  function route(t,  prefix) {
    prefix = (t == "" || t ~ /^[!:]/) ? "LOCAL!" : ""
    t = prefix t
    gsub(/:/, "!", t)
    gsub(/!!+/, "!", t)
    return t
  }
  function norm(a,  at, s, j, out, n, piece) {
    if (a == "") return "local!"
    at = match(a, /[@%]/)
    if (!at) return tolower(route(a))
    s = 0
    for (j = 1; j < at; j++) if (substr(a, j, 1) ~ /[!:]/) s = j
    out = route(substr(a, 1, s))
    n = split(substr(a, s + 1), piece, /[@%]/)
    for (j = n; j >= 1; j--) out = out piece[j] "!"
    return tolower(substr(out, 1, length(out) - 1))
  }
  NF == 5 { print norm($1); print norm($2) }' "$1"
}

# patterns node: every pattern of every mail.cf, anchored, once each.
patterns() {
  find "$1/home" -name mail.cf -exec cat {} + | awk '
    $1 ~ /^(from|to|any|not|except)$/ {
      for (j = 2; j <= NF && $j !~ /^#/; j++) print "^" $j "$"
    }' | sort -u
}

# --- measuring --------------------------------------------------------------

# Runs the rest with the node's /etc (upper folder $1, work folder $2).
withEtc=$root/scripts/with-etc

# measure node output command...: runs the command once (with node's /etc
# when node is not "-"), standard output to output, and sets elapsed
# (microseconds, taken around the whole run, the namespace and mount
# included) and peak (KiB).
# A failure or any text on standard error ends the script. Without GNU time
# peak is sampled only when sample is "yes" (the sampling delays the end of
# the run by up to 50 ms), else it is 0.
measure() {
  local node=$1 output=$2 start end status=0 key value rest
  shift 2
  local cmd=("$@")
  if [ -n "$gnutime" ]; then cmd=("$gnutime" -f %M -o "$work/rss" "${cmd[@]}"); fi
  if [ "$node" != - ]; then
    cmd=("$withEtc" "$node/etc/upper" "$node/etc/work" "${cmd[@]}")
  fi
  peak=0
  start=$EPOCHREALTIME
  # In a process group of its own, so that an interrupted run can be ended
  # whole (GNU time and its command, or unshare and mount).
  set -m
  "${cmd[@]}" > "$output" 2> "$work/stderr" < /dev/null &
  child=$!
  set +m
  if [ -z "$gnutime" ] && [ "$sample" = yes ]; then
    # unshare and sh exec the command, so the process keeps this id; once
    # it has ended its status shows no VmHWM (or is gone).
    while :; do
      key=
      { while read -r key value rest; do
          [ "$key" = VmHWM: ] && break
        done < "/proc/$child/status"; } 2> /dev/null || true
      [ "$key" = VmHWM: ] || break
      peak=$value
      sleep 0.05
    done
  fi
  wait "$child" || status=$?
  end=$EPOCHREALTIME
  child=
  elapsed=$((${end/./} - ${start/./}))
  if [ -n "$gnutime" ]; then peak=$(tail -n 1 "$work/rss"); fi
  if [ "$status" -ne 0 ] || [ -s "$work/stderr" ]; then
    echo "run.sh: $* ended with status $status" >&2
    head -n 5 "$work/stderr" >&2
    exit 1
  fi
}

# best name node output command...: the shortest time and the highest peak
# of $runs runs, as "microseconds KiB" in $work/name. A run that takes more
# than $slow seconds is not repeated.
best() {
  local name=$1 i
  shift
  : > "$work/$name.all"
  for ((i = 0; i < runs; i++)); do
    if [ $i -eq 0 ]; then sample=yes; else sample=no; fi
    measure "$@"
    echo "$elapsed $peak" >> "$work/$name.all"
    [ "$elapsed" -le $((slow * 1000000)) ] || break
  done
  awk 'NR == 1 || $1 < t { t = $1 } $2 > m { m = $2 } END { print t, m }' \
    "$work/$name.all" > "$work/$name"
}

# --- the runs ---------------------------------------------------------------

echo "postmeter bench: $postmeter"
if [ -n "$gnutime" ]; then source="GNU time"; else source="VmHWM samples"; fi
echo "best of $runs runs (one run when it takes over $slow s); peak memory from $source"
echo "lines/s counts traffic lines (the grep floor reads two addresses a line)"

for users in $sizes; do
  node=$work/node$users
  makeNode "$node" "$users"
  makeTraffic "$users" "$node/traffic"
  head -n "$short" "$node/traffic" > "$node/traffic.$short"
  normalise "$node/traffic" > "$node/addresses"
  patterns "$node" > "$node/patterns"

  # The grep floor must see the very addresses that postmeter classifies:
  # compare the first thousand lines with postmeter's own debug output.
  head -n 1000 "$node/traffic" > "$node/sample"
  "$withEtc" "$node/etc/upper" "$node/etc/work" \
    "$postmeter" -x 4 -o - "$node/sample" 2>&1 > /dev/null |
    awk '/^from=/ { sub(/^from=/, "", $1); sub(/^to=/, "", $2); print $1; print $2 }' \
    > "$node/sample.forms"
  if ! head -n 2000 "$node/addresses" | cmp -s - "$node/sample.forms"; then
    echo "run.sh: the normal forms differ from postmeter's" >&2
    exit 1
  fi

  echo
  echo "node of $users users, $(grep -c '' "$node/patterns") patterns," \
    "$(wc -c < "$node/traffic") bytes of traffic;" \
    "$(sort "$node/addresses" | uniq -c | awk '{ n++ } $1 == 1 { once++ } END {
      printf "%d distinct addresses, %d of them seen once", n, once }')"

  best pm.short "$node" /dev/null "$postmeter" -o - "$node/traffic.$short"
  best pm "$node" "$work/pm.out" "$postmeter" -o - "$node/traffic"
  if [ -n "$reference" ]; then
    best ref "$node" "$work/ref.out" "$reference" -o - "$node/traffic"
    if ! cmp -s "$work/pm.out" "$work/ref.out"; then
      echo "run.sh: the output differs from the reference build's" >&2
      exit 1
    fi
  fi
  # GNU grep stops at the first match when its output is /dev/null, so the
  # count goes to a file.
  best grep - "$work/count" grep -E -c -f "$node/patterns" "$node/addresses"
  best cat - /dev/null cat "$node/traffic"

  {
    echo "postmeter_${short}_lines $short $(cat "$work/pm.short")"
    echo "postmeter_${lines}_lines $lines $(cat "$work/pm")"
    echo "grep_-E_-c_-f_(floor) $lines $(cat "$work/grep")"
    echo "cat_(floor) $lines $(cat "$work/cat")"
    if [ -n "$reference" ]; then echo "reference_${lines}_lines $lines $(cat "$work/ref")"; fi
  } | awk -v users="$users" -v short="$short" '
    { name[NR] = $1; n[NR] = $2; t[NR] = $3 / 1e6; m[NR] = $4 }
    END {
      printf "  %-28s %9s %12s %10s %10s %10s\n", "run", "seconds", "lines/s", "peak KiB", "x grep", "x cat"
      for (i = 1; i <= NR; i++) {
        label = name[i]; gsub(/_/, " ", label)
        printf "  %-28s %9.3f %12.0f %10d", label, t[i], n[i] / t[i], m[i]
        if (i == 2 || i == 5) printf " %9.2fx %9.2fx", t[i] / t[3], t[i] / t[4]
        printf "\n"
      }
      printf "  grep floor over postmeter: %.2fx (target: at least 3 at 1,000 users), %s\n",
        t[3] / t[2], (t[3] / t[2] >= 3 ? "met" : "NOT met")
      if (NR == 5) {
        printf "  reference over postmeter: %.2fx (target: at least 10 at 1,000 users), %s; output byte-identical\n",
          t[5] / t[2], (t[5] / t[2] >= 10 ? "met" : "NOT met")
        printf "  peak memory: %d KiB, reference %d KiB (target: at most the reference), %s\n",
          m[2], m[5], (m[2] <= m[5] ? "met" : "NOT met")
      }
      printf "  peak memory, %d -> %d lines: %d -> %d KiB (%+.1f%%)\n",
        short, n[2], m[1], m[2], 100 * (m[2] - m[1]) / m[1]
    }'
done
