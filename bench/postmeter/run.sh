#!/bin/bash
# postmeter at node sizes from 50 to 5,000 users, against a reference build
# and the cat floor.
#
#   bench/postmeter/run.sh [build-dir [reference-commit]]
#
# build-dir defaults to "build". reference-commit (default main; "none" for
# no reference) is taken out of this repository with git archive into a
# temporary folder and its postmeter built there (JOBS parallel jobs,
# default 4); it runs on the same nodes as this build's postmeter, and the
# two outputs must be byte for byte the same. BENCH_USERS chooses the node
# sizes (default "50 500 1000 5000").
#
# For each size it makes, in a temporary folder, the user base (each user's
# mail.cf with a few classes, among them one partner domain searched for
# anywhere in the recipient, plus the common mail.cf) and a traffic file of
# 1,000,000 lines whose addresses repeat as in real traffic: a few heavy
# senders and recipients, many rare ones, and mail that passes between
# outside addresses only. It then times
#
#   postmeter -o - traffic    (200,000 and 1,000,000 lines; this build and
#                              the reference)
#   cat traffic > /dev/null   (the cat floor)
#
# and prints lines per second, peak memory and postmeter's time as a multiple
# of the floor; at the end, per build, the time on 200,000 lines at each size
# over the time at the smallest, and the reference's time over this build's;
# with sizes from 50 users, the time at 50 users on 1,000,000 lines as a
# multiple of cat, and the time at 5,000 over the time at 50 on 1,000,000
# lines, each against its target.
# (GNU grep -E -f, the floor of earlier versions, takes many minutes over
# patterns of the shape .*partnerN.* once there are a few hundred.)
#
# All nodes are made first; then $runs rounds each run every command on
# every node, so that a change of the machine's load touches all sizes
# alike, and each figure is the median of its runs. A command that took over
# $slow s is not run again, and the reference runs on 1,000,000 lines only
# when its first 200,000-line run took under $refmax/5 s (its 200,000-line
# output is compared either way). Lines per second always count traffic
# lines.
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
commit=${2:-main}
if [ ! -x "$postmeter" ]; then
  echo "run.sh: no $postmeter; build first (make build)" >&2
  exit 1
fi
if [ "$commit" != none ] && ! git -C "$root" rev-parse -q --verify "$commit^{commit}" > /dev/null; then
  echo "run.sh: no commit $commit" >&2
  exit 1
fi
sizes=${BENCH_USERS:-50 500 1000 5000}

lines=1000000
short=200000
runs=5
slow=20
refmax=120
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

# --- the reference build ----------------------------------------------------

reference=
if [ "$commit" != none ]; then
  echo "building postmeter of $commit ($(git -C "$root" rev-parse --short "$commit^{commit}")) in $work/ref"
  mkdir -p "$work/ref/src"
  git -C "$root" archive "$commit^{commit}" | tar -x -C "$work/ref/src"
  if ! { cmake -S "$work/ref/src" -B "$work/ref/build" -DBUILD_TESTING=OFF &&
         cmake --build "$work/ref/build" -j"${JOBS:-4}" --target postmeter; } > "$work/ref/log" 2>&1; then
    tail -n 20 "$work/ref/log" >&2
    echo "run.sh: the reference does not build" >&2
    exit 1
  fi
  reference=$work/ref/build/bin/postmeter
fi

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
  # A user's own addresses, and four or five service classes that vary
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
      print "class partners" > f
      printf "to .*partner%d.*\n", i > f
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
    if (kind <= 2) return p "@" (k % 13 == 0 ? "Mail" : "mail") (k % 97) ".example.org"
    if (kind == 3) return p "@partner" (k % users) ".example.biz"
    if (kind <= 5) return p "@corp" (k % 10) ".example.com"
    if (kind == 6) return p "@lists.example.net"
    if (kind <= 8) return p "@host" (k % 53) ".example.RU"
    if (k % 20 == 9) return p "%relay" (k % 7) ".example.de@mx.example.de"
    return "gw!" p "@relay" (k % 7) ".example.de"
  }' > "$2"
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

# timed name node output command...: one run of the command (see measure)
# unless an earlier one took over $slow s; its "microseconds KiB" are added
# to $work/name.all.
timed() {
  local name=$1
  shift
  [ -e "$work/$name.slow" ] && return
  if [ -s "$work/$name.all" ]; then sample=no; else sample=yes; fi
  measure "$@"
  echo "$elapsed $peak" >> "$work/$name.all"
  if [ "$elapsed" -gt $((slow * 1000000)) ]; then : > "$work/$name.slow"; fi
}

# median name: "microseconds KiB", the median time and the highest peak of
# the runs of name.
median() {
  sort -n "$work/$1.all" | awk '{ t[NR] = $1 } $2 > m { m = $2 }
    END { print (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2), m }'
}

# same a b what: the outputs a and b are byte for byte the same, or the
# script ends.
same() {
  if ! cmp -s "$1" "$2"; then
    echo "run.sh: $3: the output differs from the reference build's" >&2
    exit 1
  fi
}

# --- the runs ---------------------------------------------------------------

echo "postmeter bench: $postmeter"
if [ -n "$reference" ]; then echo "reference: $reference ($commit)"; fi
if [ -n "$gnutime" ]; then source="GNU time"; else source="VmHWM samples"; fi
echo "medians of $runs interleaved runs (one run when it takes over $slow s); peak memory from $source"
echo "making the nodes of $sizes users"
: > "$work/summary"

for users in $sizes; do
  node=$work/node$users
  makeNode "$node" "$users"
  makeTraffic "$users" "$node/traffic"
  head -n "$short" "$node/traffic" > "$node/traffic.$short"
  patterns "$node" > "$node/patterns"
done

for ((round = 0; round < runs; round++)); do
  for users in $sizes; do
    node=$work/node$users
    timed pm.short.$users "$node" "$work/pm.short.$users.out" "$postmeter" -o - "$node/traffic.$short"
    if [ -n "$reference" ]; then
      timed ref.short.$users "$node" "$work/ref.short.$users.out" "$reference" -o - "$node/traffic.$short"
      # The reference's run on all lines, when it is likely to end in time.
      if [ $round -eq 0 ] &&
         [ $(($(head -n 1 "$work/ref.short.$users.all" | cut -d' ' -f1) * lines / short)) -le $((refmax * 1000000)) ]; then
        : > "$work/ref.$users.long"
      fi
    fi
    timed pm.$users "$node" "$work/pm.$users.out" "$postmeter" -o - "$node/traffic"
    if [ -e "$work/ref.$users.long" ]; then
      timed ref.$users "$node" "$work/ref.$users.out" "$reference" -o - "$node/traffic"
    fi
    timed cat.$users - /dev/null cat "$node/traffic"
  done
done

for users in $sizes; do
  node=$work/node$users
  echo
  echo "node of $users users, $(grep -c '' "$node/patterns") distinct patterns," \
    "$(wc -c < "$node/traffic") bytes of traffic"
  {
    echo "this,_${short}_lines $short $(median pm.short.$users)"
    if [ -n "$reference" ]; then echo "reference,_${short}_lines $short $(median ref.short.$users)"; fi
    echo "this,_${lines}_lines $lines $(median pm.$users)"
    if [ -e "$work/ref.$users.long" ]; then echo "reference,_${lines}_lines $lines $(median ref.$users)"; fi
    echo "cat_(floor) $lines $(median cat.$users)"
  } > "$work/table"
  awk '
    { name[NR] = $1; n[NR] = $2; t[NR] = $3 / 1e6; m[NR] = $4 }
    $1 ~ /^cat/ { cat = NR }
    END {
      printf "  %-28s %9s %12s %10s %10s\n", "run", "seconds", "lines/s", "peak KiB", "x cat"
      for (i = 1; i <= NR; i++) {
        label = name[i]; gsub(/_/, " ", label)
        printf "  %-28s %9.3f %12.0f %10d", label, t[i], n[i] / t[i], m[i]
        if (i < cat) printf " %9.2fx", t[i] / t[cat] * n[cat] / n[i]
        printf "\n"
      }
    }' "$work/table"
  if [ -n "$reference" ]; then
    same "$work/pm.short.$users.out" "$work/ref.short.$users.out" "$users users, $short lines"
    if [ -e "$work/ref.$users.long" ]; then same "$work/pm.$users.out" "$work/ref.$users.out" "$users users, $lines lines"; fi
    awk '{ t[$1] = $3 } END {
      printf "  reference over this: %.2fx on %s lines", t["reference,_" short "_lines"] / t["this,_" short "_lines"], short
      if (("reference,_" lines "_lines") in t)
        printf ", %.2fx on %s lines", t["reference,_" lines "_lines"] / t["this,_" lines "_lines"], lines
      printf "; output byte-identical\n"
    }' short=$short lines=$lines "$work/table"
  fi
  awk -v users="$users" -v short="$short" -v lines="$lines" '
    { t[$1] = $3 } END {
      ref = "reference,_" short "_lines"
      print users, t["this,_" short "_lines"], (ref in t ? t[ref] : 0), t["this,_" lines "_lines"], t["cat_(floor)"]
    }' "$work/table" >> "$work/summary"
done

# Growth with the number of users: each size's time on 200,000 lines over the
# smallest size's, for each build.
echo
echo "time on $short lines over the time at the first size (medians, this run):"
awk -v short="$short" -v lines="$lines" '
  { users[NR] = $1; t[NR] = $2 / 1e6; r[NR] = $3 / 1e6; long[$1] = $4 / 1e6; cat[$1] = $5 / 1e6 }
  END {
    printf "  %8s %10s %8s %12s %8s\n", "users", "this s", "ratio", "reference s", "ratio"
    for (i = 1; i <= NR; i++) {
      printf "  %8d %10.3f %8.2f", users[i], t[i], t[i] / t[1]
      if (r[1] > 0) printf " %12.3f %8.2f", r[i], r[i] / r[1]
      printf "\n"
      ratio[users[i]] = t[i] / t[1]
    }
    if (users[1] == 50) {
      if (500 in ratio)
        printf "  time(500)/time(50) = %.2f (target: at most 1.6), %s\n", ratio[500], (ratio[500] <= 1.6 ? "met" : "NOT met")
      if (5000 in ratio)
        printf "  time(5000)/time(50) = %.2f (target: at most 3), %s\n", ratio[5000], (ratio[5000] <= 3 ? "met" : "NOT met")
      x = long[50] / cat[50]
      printf "  50 users on %d lines: %.2fx cat (target: at most 60x), %s\n", lines, x, (x <= 60 ? "met" : "NOT met")
      if (5000 in long) {
        g = long[5000] / long[50]
        printf "  time(5000)/time(50) on %d lines = %.2f (target: at most 1.5), %s\n", lines, g, (g <= 1.5 ? "met" : "NOT met")
      }
    }
    if (5000 in long) printf "  5,000 users on %d lines: %.2f s (target: a few seconds)\n", lines, long[5000]
  }' "$work/summary"
