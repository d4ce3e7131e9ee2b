#!/bin/bash
# The NFS service against the running server, in a network namespace of its
# own:
#   nfs_test.sh native|wine SERVER NFS_CLIENT DRIVER
# SERVER is the headless server (nfsd, or nfsd_console.exe under Wine),
# NFS_CLIENT the client on the libnfs C API (a host program in both modes),
# DRIVER the raw-packet test driver (under Wine its .exe).
#   - rpcinfo lists NFS versions 2 and 3 over UDP and TCP on port 2049 and
#     gets answers from both; version 4 is a mismatch with 2..3;
#   - the libnfs client mounts, looks up, stats, asks ACCESS and FSINFO;
#   - the driver's raw NFS calls (the ACL protocol on the NFS port is
#     unavailable, malformed arguments, the largest verifier, handles of
#     other clients) and its bounded NFS storm, after which the
#     server still answers;
#   - the log has the start line with the UDP threads.
# Needs root for the namespace: exits with 77 (skipped) otherwise.
set -u
mode=${1:?native or wine}
server=${2:?server program}
client=${3:?libnfs client program}
driver=${4:?driver program}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$here/server_lib.sh"
enter_namespace "$@" -- rpcinfo

# --- inside the namespace -------------------------------------------------------
# A second caller address for the export of another client.
ip addr add 127.0.0.5/32 dev lo || fail "cannot add 127.0.0.5"

exports="$work/export"
mkdir -p "$exports/data/sub" "$exports/ro" "$exports/priv"
printf 'Hello from the NFS service.\r\n' > "$exports/data/hello.txt"  # 29 bytes
{
  printf '[nfsd]\r\nLog=2\r\n'
  printf 'InodePath=%s\r\n' "$(windows "$data/inodes.nfs")"
} > "$data/nfsd.ini"
{
  printf '%s -name:data\n' "$(windows "$exports/data")"
  printf '%s -name:ro -readonly\n' "$(windows "$exports/ro")"
  printf '%s -name:priv 127.0.0.5\n' "$(windows "$exports/priv")"
} > "$data/exports"
if [ "$mode" = wine ]; then
  chown -R "$KORVANE_WINE_USER" "$exports"
fi

start_server

# --- registrations and answers of other programs ------------------------------------
list=$(timeout 30 rpcinfo -p 127.0.0.1) || fail "rpcinfo -p failed"
echo "$list"
for vers in 2 3; do
  for proto in udp tcp; do
    echo "$list" | grep -Eq "^ *100003 +$vers +$proto +2049 " || fail "rpcinfo -p lacks 100003 $vers $proto 2049"
  done
  timeout 30 rpcinfo -u 127.0.0.1 100003 $vers || fail "rpcinfo -u 100003 $vers failed"
  timeout 30 rpcinfo -t 127.0.0.1 100003 $vers || fail "rpcinfo -t 100003 $vers failed"
done
# (rpcinfo asks the port mapper first even with -n, so the ACL protocol,
# which nothing registers, is asked on the NFS port by the driver's raw
# calls below.)
out=$(timeout 30 rpcinfo -n 2049 -t 127.0.0.1 100003 4 2>&1) && fail "NFS version 4 answered: $out"
echo "$out"
echo "$out" | grep -qi "mismatch.*low version = 2.*high version = 3" ||
  fail "NFS version 4 is not PROG_MISMATCH 2..3: $out"

# --- a real client ------------------------------------------------------------------
timeout 120 "$client" 127.0.0.1 || fail "the libnfs client found faults"

# --- raw calls and the storm ----------------------------------------------------------
run_client "$driver" --gtest_brief=1 --gtest_filter='NfsWire.*' || fail "the NFS wire tests failed"
seed=${KORVANE_STORM_SEED:-$(( $(date +%s) % 100000 ))}
run_client "$driver" --nfs-storm "${KORVANE_STORM_SECONDS:-20}" "${KORVANE_STORM_COUNT:-30000}" "$seed" ||
  fail "the server did not survive the NFS storm (seed $seed)"
timeout 30 rpcinfo -u 127.0.0.1 100003 3 || fail "NFS no longer answers after the storm"

stop_server
log=$(ls "$data"/nfsd*.log 2>/dev/null | head -1)
[ -n "$log" ] && grep -aq "nfsd   started on 2049, 4 udp threads" "$log" ||
  fail "the log lacks \"nfsd   started on 2049, 4 udp threads\""
echo "PASS: $mode nfs"
