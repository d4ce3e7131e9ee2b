#!/bin/bash
# The server in a network namespace of its own (root, else skipped with 77):
#   server_test.sh native|wine SERVER DRIVER wire|storm
#   wire   rpcinfo, the RpcWire tables, the connection flood, a second server,
#          a start without a port mapper (or with a silent one)
#   storm  the driver's bounded storm of the port mapper, then rpcinfo
# Both end with Ctrl+C, which must stop the server cleanly.
set -u
mode=${1:?native or wine}
server=${2:?server program}
driver=${3:?driver program}
what=${4:?wire or storm}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$here/server_lib.sh"
enter_namespace "$@" -- rpcinfo ss

# --- inside the namespace -------------------------------------------------------
# Short limits, so that the flood's connections end within the test.
write_setup Log=2 TcpIdle=2 TcpRecordTime=3 --
start_server

check_rpcinfo() {
  expect_registered 100000 2 "udp tcp" 111
  [ "$(timeout 30 rpcinfo -p 127.0.0.1 | grep -c ' 100000 ')" = 2 ] || fail "rpcinfo -p lists more than two own entries"
}

check_rpcinfo
threads_of() { ls "/proc/$1/task" | wc -l; }
fds_of() { ls "/proc/$1/fd" | wc -l; }
# TCP connections the server holds: established, on a port something in the
# namespace listens on (only the server does). Under Wine the sockets live in
# the wineserver, not among the server's descriptors.
connections_held() {
  local ports
  ports=$(ss -Htln | awk '{ sub(/.*:/, "", $4); print $4 }' | sort -u | tr '\n' ' ')
  ss -Htn state established | awk -v ports="$ports" '
    BEGIN { n = split(ports, p, " "); for (i = 1; i <= n; i++) listening[p[i]] = 1 }
    { lport = $3; sub(/.*:/, "", lport); if (lport in listening) held++ }
    END { print held + 0 }'
}

# 1,000 idle connections and 100 tricklers (under Wine 200 and 20): once
# TcpIdle and TcpRecordTime have acted, the server holds no connection and is
# back at its idle threads and descriptors while the flood holds its sockets.
flood() {
  local pid out="$work/flood.out" i
  pid=$(server_process)
  [ -n "$pid" ] || fail "the server process was not found"
  local threads0 fds0 threads1 fds1 held1 peak=0 peak_held=0
  threads0=$(threads_of "$pid"); fds0=$(fds_of "$pid")
  # The answer during the burst waits behind the burst's accepts: under the
  # sanitizers a few seconds; under Wine, far slower at sockets, it is not
  # judged, and the flood is a fifth as large with more time.
  local idle=1000 tricklers=100 hold=12 settle=50 burst=15000
  # The settling wait ends before the flood lets go of its sockets (hold):
  # under Wine on a busy machine the accepts and thread ends lag far behind.
  [ "$mode" = wine ] && { idle=200; tricklers=20; hold=70; settle=300; burst=0; }
  run_client "$driver" --flood $idle $tricklers $hold $burst > "$out" 2>&1 &
  local flood_pid=$!
  # Sample until the flood is in place and five seconds more: the peak.
  local after=0
  for i in $(seq 1 650); do
    local t c
    t=$(threads_of "$pid")
    [ "$t" -gt "$peak" ] && peak=$t
    [ $after = 0 ] && { c=$(connections_held); [ "$c" -gt "$peak_held" ] && peak_held=$c; }
    grep -q '^flooded' "$out" && after=$((after + 1))
    [ $after -ge 50 ] && break
    kill -0 "$flood_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q '^flooded' "$out" || { cat "$out"; fail "the flood did not get going"; }
  for i in $(seq 1 $settle); do
    threads1=$(threads_of "$pid"); fds1=$(fds_of "$pid"); held1=$(connections_held)
    [ "$held1" = 0 ] && [ "$threads1" -le "$threads0" ] && [ "$fds1" -le "$fds0" ] && break
    sleep 0.2
  done
  wait "$flood_pid"
  local rc=$?
  cat "$out"
  echo "flood: server threads $threads0 idle, $peak at the peak, $threads1 after; descriptors $fds0 idle," \
       "$fds1 after; connections $peak_held at the peak, $held1 after"
  [ $rc = 0 ] || fail "the flood failed"
  [ "$held1" = 0 ] || fail "the server kept $held1 connections open"
  [ "$threads1" -le "$threads0" ] || fail "the server kept $threads1 threads (idle: $threads0)"
  [ "$fds1" -le "$fds0" ] || fail "the server kept $fds1 descriptors (idle: $fds0)"
  [ "$peak" -gt "$threads0" ] && [ "$peak_held" -gt 0 ] || fail "the flood never reached the server"
}

# Starts a second server on a data folder of its own and prints its exit code.
run_second() {
  local dir=$1 out=$2
  if [ "$mode" = wine ]; then
    chown -R "$KORVANE_WINE_USER" "$dir"
    timeout 60 "$tools/wine-run" "$server" "$(windows "$dir")" > "$out" 2>&1
  else
    timeout 60 "$server" "$dir" > "$out" 2>&1
  fi
  echo $?
}

# A second server while the first holds the ports: the start fails (2, the
# services' code).  On the first server's own data folder it fails before,
# at the inode table that the first one holds (6).
second_start() {
  local out="$work/second.out" rc
  setup_dir="$work/second" write_setup Log=2 --
  rc=$(run_second "$work/second" "$out")
  [ "$rc" = 2 ] || { cat "$out"; fail "a second server ended with $rc, not 2"; }
  rc=$(run_second "$data" "$out")
  [ "$rc" = 6 ] || { cat "$out"; fail "a second server on the same data folder ended with $rc, not 6"; }
  # A data folder that does not exist is refused before anything starts.
  if [ "$mode" = native ]; then
    "$server" "$work/missing" > "$out" 2>&1
    [ $? = 64 ] || fail "a missing data folder was not refused"
  fi
}

# Without a port mapper the registrations fail at once and so does the
# start: no wait for answers that cannot come, at the start or at the stop.
# With a silent one, SIGTERM ends the waiting start at once (native only:
# under Wine the signal does not reach the Windows process as such).
start_without_port_mapper() {
  local dir="$work/third" out="$work/third.out" rc started
  setup_dir=$dir write_setup Log=2 PortMapper=0 --
  started=$(date +%s%N)
  rc=$(run_second "$dir" "$out")
  local ms=$(( ($(date +%s%N) - started) / 1000000 ))
  echo "a start without a port mapper ended with $rc after $ms ms"
  [ "$rc" = 2 ] || { cat "$out"; fail "a start without a port mapper ended with $rc, not 2"; }
  [ "$ms" -lt 5000 ] || fail "a start without a port mapper took $ms ms"
  [ "$mode" = native ] || return 0
  run_client "$driver" --silent-udp 111 20 > "$work/silent.out" 2>&1 &
  local silent=$!
  for _ in $(seq 1 50); do grep -q listening "$work/silent.out" && break; sleep 0.1; done
  "$server" "$dir" > "$out" 2>&1 &
  local pid=$!
  sleep 0.5
  kill -TERM "$pid"
  started=$(date +%s%N)
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
  ms=$(( ($(date +%s%N) - started) / 1000000 ))
  kill -0 "$pid" 2>/dev/null && { kill -KILL "$pid"; fail "SIGTERM left a waiting start running"; }
  kill "$silent" 2>/dev/null; wait "$silent" 2>/dev/null
  echo "SIGTERM ended a start waiting for a silent port mapper after $ms ms"
}

case "$what" in
wire)
  # A caller that is not local.
  ip addr add 127.0.0.2/32 dev lo || fail "cannot add 127.0.0.2"
  run_client "$driver" --gtest_brief=1 --gtest_filter='RpcWire.*' || fail "the RPC wire tables failed"
  check_rpcinfo
  flood
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
[ "$what" = wire ] && start_without_port_mapper
cat "$work/server.out"
echo "PASS: $mode $what"
