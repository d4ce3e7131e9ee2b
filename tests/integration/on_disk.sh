#!/bin/bash
# Whether what an ext4 file system holds in memory about a name is on its
# disk: the name's record and its folder's (record and entries), read by
# debugfs from the disk image and from a copy of the device as the mounted
# file system has it.  Prints the differences; fails when there are any.
#   on_disk.sh IMAGE DEVICE FOLDER PATH record|name
# (PATH below FOLDER of the file system; "name": only the name moved, its
# record need not be written again).
set -u
image=$1 device=$2 path=$3$4
live=$(mktemp) requests=$(mktemp)
trap 'rm -f "$live" "$requests"' EXIT
dd if="$device" of="$live" bs=1M status=none || exit 2
folder=$(dirname "$path")
printf 'stat %s\nls %s\n' "$folder" "$folder" > "$requests"
[ "$5" = record ] && printf 'stat %s\n' "$path" >> "$requests"
diff <(debugfs -f "$requests" "$image" 2>&1) <(debugfs -f "$requests" "$live" 2>&1) | sed 's/^/     /'
exit "${PIPESTATUS[0]}"
