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

if [ "$(id -u)" != 0 ]; then
  echo "SKIP: the integration tests need root (network namespaces)"
  exit 77
fi
for tool in rpcinfo unshare ip; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is not installed (tools/install-deps)"; exit 1; }
done

if [ "${KORVANE_NETNS_INSIDE:-}" != 1 ]; then
  flags=()
  [ "$mode" = wine ] && flags=(--wine)
  exec "$tools/netns-run" "${flags[@]}" -- "$0" "$@"
fi

# --- inside the namespace -------------------------------------------------------
: "${KORVANE_WINE_USER:=korvane-test}"
work=$(mktemp -d /tmp/korvane-it.XXXXXX)
server_pid=
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -KILL "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- server output"; cat "$work/server.out" 2>/dev/null; exit 1; }

data="$work/data"
mkdir -p "$data"
{
  printf '[nfsd]\r\nLog=2\r\n'
  # The inode table in the data folder, which the Wine user may write.
  p="Z:$data/inodes.nfs"
  printf 'InodePath=%s\r\n' "${p//\//\\}"
} > "$data/nfsd.ini"
chmod 755 "$work"

run_client() {
  if [ "$mode" = wine ]; then
    "$tools/wine-run" "$@"
  else
    "$@"
  fi
}

if [ "$mode" = wine ]; then
  chown -R "$KORVANE_WINE_USER" "$data"
  "$tools/wine-run" "$server" "Z:${data//\//\\}" > "$work/server.out" 2>&1 &
else
  "$server" "$data" > "$work/server.out" 2>&1 &
fi
server_pid=$!
for _ in $(seq 1 600); do
  grep -q "Ready on Port" "$work/server.out" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || fail "the server ended at start"
  sleep 0.1
done
grep -q "Ready on Port" "$work/server.out" || fail "no \"Ready on Port\" within 60 s"

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
# mount service's failure reported in place of the port mapper's.
second_start() {
  local dir="$work/second" out="$work/second.out"
  mkdir -p "$dir"
  {
    printf '[nfsd]\r\nLog=2\r\n'
    p="Z:$dir/inodes.nfs"
    printf 'InodePath=%s\r\n' "${p//\//\\}"
  } > "$dir/nfsd.ini"
  local rc
  if [ "$mode" = wine ]; then
    chown -R "$KORVANE_WINE_USER" "$dir"
    timeout 60 "$tools/wine-run" "$server" "Z:${dir//\//\\}" > "$out" 2>&1
    rc=$?
  else
    timeout 60 "$server" "$dir" > "$out" 2>&1
    rc=$?
  fi
  [ $rc = 3 ] || { cat "$out"; fail "a second server ended with $rc, not 3"; }
  grep -q "^Failed to start Mount server" "$out" || { cat "$out"; fail "no \"Failed to start Mount server\""; }
  # A data folder that does not exist is refused before anything starts.
  if [ "$mode" = native ]; then
    "$server" "$work/missing" > "$out" 2>&1
    [ $? = 64 ] || fail "a missing data folder was not refused"
  fi
}

case "$what" in
wire)
  run_client "$driver" --gtest_brief=1 || fail "on-the-wire tests failed"
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

# Ctrl+C: the signal goes to the server process itself (under Wine the
# Windows process below runuser, which turns it into a console Ctrl+C).
target=$server_pid
if [ "$mode" = wine ]; then
  target=$(ps -o pid= --ppid "$server_pid" | head -1 | tr -d ' ')
  [ -n "$target" ] || fail "the Windows process of the server was not found"
fi
kill -INT "$target"
stopped=0
for _ in $(seq 1 150); do
  kill -0 "$server_pid" 2>/dev/null || { stopped=1; break; }
  sleep 0.1
done
[ $stopped = 1 ] || fail "the server did not stop within 15 s of Ctrl+C"
wait "$server_pid"
rc=$?
server_pid=
[ $rc = 0 ] || fail "the server ended with $rc after Ctrl+C"
grep -q "^Stopped" "$work/server.out" || fail "no \"Stopped\" after Ctrl+C"
log=$(ls "$data"/nfsd*.log 2>/dev/null | head -1)
[ -n "$log" ] && grep -q "pmapd ready on port 111" "$log" || fail "the log lacks \"pmapd ready on port 111\""
cat "$work/server.out"
echo "PASS: $mode $what"
