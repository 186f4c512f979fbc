#!/bin/sh
# Runs a test program as an unprivileged user, so permission checks mean something when CI runs as root.
# The program and its data are copied to a folder that user can read, since the build tree may not be.
# Usage: run-unprivileged.sh PROGRAM DATA_DIR
set -u
program=$1
data=$2
if [ "$(id -u)" != 0 ]; then
  exec "$program"
fi
work=$(mktemp -d)
cp "$program" "$work/" && cp -r "$data" "$work/data" && chmod -R a+rX "$work" || exit 1
setpriv --reuid=65534 --regid=65534 --clear-groups \
  env HOME="$work" TMPDIR=/tmp TUNEGROVE_TEST_DATA="$work/data" "$work/$(basename "$program")"
status=$?
rm -rf "$work"
exit $status
