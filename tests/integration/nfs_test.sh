#!/bin/bash
# The NFS service in a network namespace of its own (root, else skipped with 77):
#   nfs_test.sh native|wine SERVER NFS_CLIENT DRIVER
# rpcinfo; the libnfs client; nfs-cp of 0 bytes to 64 MiB in and out
# (KORVANE_NFS_BIG=1 adds 1 GiB + 1 byte); nfs-ls of 1,000 files; the
# NfsWire tables; handles that outlive an unmount and a kill of the server;
# native only, every acknowledged change on the disk of a loop-mounted ext4.
set -u
mode=${1:?native or wine}
server=${2:?server program}
client=${3:?libnfs client program}
driver=${4:?driver program}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$here/server_lib.sh"
enter_namespace "$@" -- rpcinfo nfs-cp nfs-ls

# --- inside the namespace -------------------------------------------------------
# A second caller address for the export of another client.
ip addr add 127.0.0.5/32 dev lo || fail "cannot add 127.0.0.5"

exports="$work/export"
mkdir -p "$exports/data/sub" "$exports/data/work" "$exports/ro/docs" "$exports/priv" "$exports/many"
printf 'Hello from the NFS service.\r\n' > "$exports/data/hello.txt"  # 29 bytes
printf 'kept\n' > "$exports/ro/kept.txt"
printf 'kept across restarts\n' > "$exports/data/kept.txt"
for i in $(seq -w 1 1000); do : > "$exports/many/file-$i"; done
# A small ext4 without a journal, which has on its disk only what was
# flushed (native only).
disk_line=()
if [ "$mode" = native ] && truncate -s 16M "$work/disk.img" && mkfs.ext4 -q -O ^has_journal -b 1024 -I 1024 "$work/disk.img" &&
  mkdir -p "$work/disk" && mount -o loop,noatime "$work/disk.img" "$work/disk"; then
  disk_mounted="$work/disk"
  mkdir -p "$work/disk/x/work"
  sync
  disk_line=("$(windows "$work/disk/x") -name:disk")
fi

# The clients run as root: kept as root rather than made nobody, who may not
# write in the exported folders.  The long calls of a connection go to the
# TCP workers, not only those that wait for the disk.
write_setup Log=2 MapRoot=1 WebNFS=1 TcpParallel=2 -- \
  "$(windows "$exports/data") -name:data" \
  "$(windows "$exports/ro") -name:ro -readonly -public" \
  "$(windows "$exports/priv") -name:priv 127.0.0.5" \
  "$(windows "$exports/many") -name:many" "${disk_line[@]}"

start_server

expect_registered 100003 "2 3" "udp tcp" 2049

# --- a real client ------------------------------------------------------------------
timeout 120 "$client" 127.0.0.1 || fail "the libnfs client found faults"

# --- what a reply acknowledges is on the disk -------------------------------------------
if [ -n "${disk_mounted:-}" ]; then
  device=$(findmnt -no SOURCE "$disk_mounted")
  timeout 120 "$client" 127.0.0.1 /disk "bash $here/on_disk.sh $work/disk.img $device /x" ||
    fail "acknowledged changes were not on the disk"
else
  echo "skip what a reply acknowledges is on the disk (native only, needs a loop device)"
fi

# --- files copied in and out, a long listing -------------------------------------------
copies="$work/copies"
mkdir -p "$copies"
sizes="0 1 4097 1000003 $((64 << 20))"
[ "${KORVANE_NFS_BIG:-0}" = 1 ] && sizes="$sizes $(((1 << 30) + 1))"
for size in $sizes; do
  head -c "$size" /dev/urandom > "$copies/in-$size"
  start=$(date +%s%N)
  timeout 600 nfs-cp "$copies/in-$size" "nfs://127.0.0.1/data/copy-$size" >/dev/null ||
    fail "nfs-cp of $size bytes to the server failed"
  timeout 600 nfs-cp "nfs://127.0.0.1/data/copy-$size" "$copies/out-$size" >/dev/null ||
    fail "nfs-cp of $size bytes from the server failed"
  cmp "$copies/in-$size" "$exports/data/copy-$size" || fail "the server's copy of $size bytes differs"
  cmp "$copies/in-$size" "$copies/out-$size" || fail "the copy of $size bytes read back differs"
  echo "ok   nfs-cp $size bytes in and out ($(( ($(date +%s%N) - start) / 1000000 )) ms)"
  rm -f "$copies/in-$size" "$copies/out-$size" "$exports/data/copy-$size"
done
listing=$(timeout 120 nfs-ls "nfs://127.0.0.1/many") || fail "nfs-ls of 1,000 files failed"
count=$(echo "$listing" | grep -c ' file-[0-9]*$')
[ "$count" = 1000 ] || fail "nfs-ls listed $count of 1,000 files"
[ "$(echo "$listing" | grep -o 'file-[0-9]*$' | sort -u | wc -l)" = 1000 ] || fail "nfs-ls listed a file twice"
echo "ok   nfs-ls lists 1,000 files"

# --- raw calls ---------------------------------------------------------------------------
run_client "$driver" --gtest_brief=1 --gtest_filter='NfsWire.*' || fail "the NFS wire tests failed"

# --- handles outlive an unmount and a crash of the server ------------------------------
kept=$(run_client "$driver" --kept-handles save) || fail "handles did not outlive an unmount: $kept"
kept=$(echo "$kept" | sed -n 's/^kept //p')
kill_server
start_server
# shellcheck disable=SC2086 # two handles
run_client "$driver" --kept-handles check $kept || fail "handles went stale across a restart"

stop_server
echo "PASS: $mode nfs"
