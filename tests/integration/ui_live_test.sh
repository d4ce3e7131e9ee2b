#!/bin/bash
# The control window against the running services under Wine, in a network
# namespace of its own (root, else skipped with 77):
#   ui_live_test.sh TEST_UI NFSD_EXE MOUNT_CLIENT
# tests/ui/live_test_win32.cpp stops at named steps that ui_live_lib.sh checks.
set -u
mode=wine
test_ui=${1:?test_ui.exe}
program=${2:?nfsd.exe}
client=${3:?mount_client.exe}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$here/server_lib.sh"
enter_namespace "$@" -- showmount rpcinfo

. "$here/ui_live_lib.sh"
live_setup "$work" user
live_wine="$tools/wine-run"
live_test_ui=$test_ui
live_program=$program
live_mount_client=$client
status=0
live_run_tests 'Live.*' || status=$?
cat "$live_work/test.out" | tr -d '\r' | grep -vE '^(Running main|Note: Google Test filter)' | tail -40
[ $status = 0 ] || fail "the window's live test failed"
grep -q '^\[  PASSED  \] 1 test' <(tr -d '\r' < "$live_work/test.out") || fail "the live test did not run"
echo "PASS: ui live"
