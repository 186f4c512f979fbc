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
cp "$program" "$work/" && cp -r "$data" "$work/data" && mkdir -m 700 "$work/home" "$work/runtime" &&
  chmod -R a+rX "$work/data" "$work/$(basename "$program")" && chmod a+rx "$work" &&
  chown 65534:65534 "$work/home" "$work/runtime" || exit 1
# A home and XDG folders of its own, which that user may write.
setpriv --reuid=65534 --regid=65534 --clear-groups \
  env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
      XDG_STATE_HOME="$work/home/.local/state" XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/runtime" \
      TMPDIR=/tmp TUNEGROVE_TEST_DATA="$work/data" "$work/$(basename "$program")"
status=$?
rm -rf "$work"
exit $status
