#!/bin/sh
# Runs a program in a umockdev testbed whose device node NODE the user may
# not open. Root may open any file, so as root the testbed is built and the
# program run as the unprivileged user "nobody".
# Usage: run-denied.sh DEVICE-FILE NODE PROGRAM [ARGS...]
set -eu
device_file=$1
node=$2
shift 2
as_user=""
if [ "$(id -u)" -eq 0 ]; then
    as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"
fi
exec $as_user umockdev-run --device "$device_file" -- \
    sh -c 'chmod 000 "$UMOCKDEV_DIR$0" && exec "$@"' "$node" "$@"
