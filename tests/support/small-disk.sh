#!/bin/sh
# small-disk.sh SIZE DIR PROGRAM [ARGS...]: runs PROGRAM with a tmpfs of SIZE
# (as mount takes it, e.g. 96k) mounted on DIR and DIDIRA_TEST_SMALL_DISK set
# to DIR. The mount is made in a mount namespace of the program's own (inside
# a user namespace where it is root, when not run as root), so the host never
# sees it and it goes with the program however that ends. Where no namespace
# or mount can be had, the program runs without the variable and the cases
# that need the disk skip, saying why.
set -u
size=$1 dir=$2
shift 2
mkdir -p "$dir" || exit 1
if [ "$(id -u)" -eq 0 ]; then
  ns=--mount
else
  ns="--user --map-root-user --mount"
fi
# shellcheck disable=SC2086 # ns is a list of options
if unshare $ns mount -t tmpfs -o size=4k didira-probe "$dir" 2>/dev/null; then
  # shellcheck disable=SC2016,SC2086 # expanded by the inner shell
  exec unshare $ns sh -c 'mount -t tmpfs -o "size=$1,mode=0755" didira-small-disk "$2" || exit 1
d=$2
shift 2
DIDIRA_TEST_SMALL_DISK=$d exec "$@"' sh "$size" "$dir" "$@"
fi
echo "small-disk.sh: no mount namespace here (unshare $ns): running without a small disk" >&2
exec "$@"
