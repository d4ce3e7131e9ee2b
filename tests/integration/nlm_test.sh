#!/bin/bash
# The lock manager in a network namespace of its own (root, else skipped with 77):
#   nlm_test.sh native|wine SERVER DRIVER
# The server serves NLM over TCP only, so that the driver's fake client can
# register its callback service over UDP with the server's port mapper:
# rpcinfo, the driver's NlmLive tests, and a lock across a kill and a new
# start of the server (told, reclaimed in the grace period).
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

expect_registered 100021 "1 3 4" tcp 4045

run_client "$driver" --gtest_brief=1 --gtest_filter='NlmLive.*' "--nlm-folder=$(windows "$exports/data")" ||
  fail "the lock manager's wire tests failed"

run_client "$driver" --gtest_brief=1 --gtest_filter='NlmRestart.BeforeTheKill' || fail "no lock before the kill"
grep -q '^127\.0\.0\.1' "$data/statmon" || fail "statmon does not name the client"
kill_server
start_server
run_client "$driver" --gtest_brief=1 --gtest_filter='NlmRestart.AfterTheStart' ||
  fail "the restarted lock manager's tests failed"

stop_server
echo "PASS: $mode nlm"
