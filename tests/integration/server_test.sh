#!/bin/bash
# Runs the server in a network namespace of its own and tests it from inside
# that namespace:
#   server_test.sh native|wine SERVER DRIVER wire|storm
# native: SERVER is the POSIX program nfsd; wine: SERVER is nfsd_console.exe,
# started with its own Wine prefix and wineserver inside the namespace, and
# DRIVER (the test client) runs under Wine as well.
#   wire   rpcinfo -p/-u/-t, then the driver's on-the-wire tests
#   storm  the driver's bounded storm, then rpcinfo again
# Both end with Ctrl+C (SIGINT) to the server, which must stop cleanly.
# Needs root for the namespace: exits with 77 (skipped) otherwise.
set -u
mode=${1:?native or wine}
server=${2:?server program}
driver=${3:?driver program}
what=${4:?wire or storm}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$here/server_lib.sh"
enter_namespace "$@" -- rpcinfo

# --- inside the namespace -------------------------------------------------------
{
  printf '[nfsd]\r\nLog=2\r\n'
  # The inode table in the data folder, which the Wine user may write.
  printf 'InodePath=%s\r\n' "$(windows "$data/inodes.nfs")"
} > "$data/nfsd.ini"
start_server

check_rpcinfo() {
  local list
  list=$(timeout 30 rpcinfo -p 127.0.0.1) || fail "rpcinfo -p failed"
  echo "$list"
  echo "$list" | grep -Eq '^ *100000 +2 +tcp +111( |$)' || fail "rpcinfo -p lacks 100000 2 tcp 111"
  echo "$list" | grep -Eq '^ *100000 +2 +udp +111( |$)' || fail "rpcinfo -p lacks 100000 2 udp 111"
  [ "$(echo "$list" | grep -c ' 100000 ')" = 2 ] || fail "rpcinfo -p lists more than the two own entries"
  timeout 30 rpcinfo -u 127.0.0.1 100000 2 || fail "rpcinfo -u failed"
  timeout 30 rpcinfo -t 127.0.0.1 100000 2 || fail "rpcinfo -t failed"
}

check_rpcinfo
# A second server while the first holds the ports: the start fails, with the
# NFS service's failure reported before the mount service's and the port
# mapper's.
second_start() {
  local dir="$work/second" out="$work/second.out"
  mkdir -p "$dir"
  {
    printf '[nfsd]\r\nLog=2\r\n'
    printf 'InodePath=%s\r\n' "$(windows "$dir/inodes.nfs")"
  } > "$dir/nfsd.ini"
  local rc
  if [ "$mode" = wine ]; then
    chown -R "$KORVANE_WINE_USER" "$dir"
    timeout 60 "$tools/wine-run" "$server" "$(windows "$dir")" > "$out" 2>&1
    rc=$?
  else
    timeout 60 "$server" "$dir" > "$out" 2>&1
    rc=$?
  fi
  [ $rc = 2 ] || { cat "$out"; fail "a second server ended with $rc, not 2"; }
  grep -q "^Failed to start NFS server" "$out" || { cat "$out"; fail "no \"Failed to start NFS server\""; }
  # A data folder that does not exist is refused before anything starts.
  if [ "$mode" = native ]; then
    "$server" "$work/missing" > "$out" 2>&1
    [ $? = 64 ] || fail "a missing data folder was not refused"
  fi
}

case "$what" in
wire)
  run_client "$driver" --gtest_brief=1 --gtest_filter='-NfsWire.*' || fail "on-the-wire tests failed"
  second_start
  ;;
storm)
  seed=${KORVANE_STORM_SEED:-$(( $(date +%s) % 100000 ))}
  run_client "$driver" --storm "${KORVANE_STORM_SECONDS:-20}" "${KORVANE_STORM_COUNT:-30000}" "$seed" ||
    fail "the server did not survive the storm (seed $seed)"
  check_rpcinfo
  ;;
*) fail "unknown test $what" ;;
esac

stop_server
log=$(ls "$data"/nfsd*.log 2>/dev/null | head -1)
[ -n "$log" ] && grep -q "pmapd ready on port 111" "$log" || fail "the log lacks \"pmapd ready on port 111\""
cat "$work/server.out"
echo "PASS: $mode $what"
