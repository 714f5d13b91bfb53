#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need,
# calling apt-get only for those that are missing. With --demo also the
# browser that renders a page of the demo and openssl, which makes the
# demo's password file (make demo passes it; the test suite needs neither).
set -e
want="cmake g++ make libgtest-dev libgmock-dev libsqlite3-dev libre2-dev sqlite3 lighttpd curl util-linux python3-num2words groff-base man-db logrotate systemd"
if [ "${1:-}" = "--demo" ]; then
  want="$want chromium openssl"
fi
missing=""
for p in $want; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends $missing
