#!/bin/bash
# The lock manager against the running server, in a network namespace of its
# own:
#   nlm_test.sh native|wine SERVER DRIVER
# The server runs with NLM=1 over TCP only (the fake client of the driver
# registers its callback service over UDP with the server's port mapper):
#   - rpcinfo lists program 100021 versions 1, 3 and 4 over TCP on 4045;
#   - the driver's NlmLive tests: a blocked LOCK granted by callback when the
#     holder unlocks (and the Windows lock kept while the handle idles),
#     CANCEL, the ranges of every version, the _MSG forms and their _RES
#     calls, handles checked like NFS requests, a file removed while locked, a full open-file cache, a handle whose path
#     now leads through a link, a restart notice of a client;
#   - a lock taken, the server killed and started again: the client is told,
#     reclaims its lock in the grace period, other locks wait for its end;
#   - the log has the start lines of nlmd and statd.
# Needs root for the namespace: exits with 77 (skipped) otherwise.
set -u
mode=${1:?native or wine}
server=${2:?server program}
driver=${3:?driver program}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$here/server_lib.sh"
enter_namespace "$@" -- rpcinfo

# --- inside the namespace -------------------------------------------------------
exports="$work/export"
mkdir -p "$exports/data" "$exports/ro" "$exports/one"
: > "$exports/one/a"
: > "$exports/one/b"
for i in 0 1 2 3; do head -c 4096 /dev/zero > "$exports/data/f$i"; done
: > "$exports/data/gone"
mkdir -p "$exports/data/sub" "$exports/outside"
: > "$exports/data/sub/x"
: > "$exports/outside/x"
printf 'kept\n' > "$exports/ro/kept.txt"
write_setup Log=2 MapRoot=1 NLM=1 UDP=0 LockGrace=12 -- \
  "$(windows "$exports/data") -name:data" \
  "$(windows "$exports/ro") -name:ro -readonly" \
  "$(windows "$exports/one") -name:one -cache:1"

start_server

list=$(timeout 30 rpcinfo -p 127.0.0.1) || fail "rpcinfo -p failed"
echo "$list"
for vers in 1 3 4; do
  echo "$list" | grep -Eq "^ *100021 +$vers +tcp +4045 " || fail "rpcinfo -p lacks 100021 $vers tcp 4045"
  timeout 30 rpcinfo -t 127.0.0.1 100021 $vers || fail "rpcinfo -t 100021 $vers failed"
done

run_client "$driver" --gtest_brief=1 --gtest_filter='NlmLive.*' "--nlm-folder=$(windows "$exports/data")" ||
  fail "the lock manager's wire tests failed"

run_client "$driver" --gtest_brief=1 --gtest_filter='NlmRestart.BeforeTheKill' || fail "no lock before the kill"
grep -q '^127\.0\.0\.1' "$data/statmon" || fail "statmon does not name the client"
kill_server
start_server
run_client "$driver" --gtest_brief=1 --gtest_filter='NlmRestart.AfterTheStart' ||
  fail "the restarted lock manager's tests failed"

stop_server
log=$(ls "$data"/nfsd*.log 2>/dev/null | head -1)
[ -n "$log" ] && grep -aq "nlmd   started on 4045" "$log" || fail "the log lacks \"nlmd   started on 4045\""
grep -aq "statd  clients told to reclaim their locks: 1" "$log" || fail "the log lacks the notice of the restart"
echo "PASS: $mode nlm"
