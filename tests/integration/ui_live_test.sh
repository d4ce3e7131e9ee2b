#!/bin/bash
# The control window against the running services, in a network namespace of
# its own (Windows build, under Wine):
#   ui_live_test.sh TEST_UI NFSD_EXE NFSD_CONSOLE MOUNT_CLIENT
# The window's live test (tests/ui/live_test_win32.cpp) starts the real
# services behind the real window and stops at named steps; this script
# checks each from outside (ui_live_lib.sh):
#   - the exports view from the exports file, the mounts view after a MOUNT
#     call of a raw client;
#   - the preferences' exports, mounts and port mapper pages against
#     showmount -e, showmount -a and rpcinfo -p;
#   - an export added, edited and removed through the window: in exports
#     (with exports.old the previous file) and in showmount -e;
#   - a mount port applied in the preferences: in nfsd.ini, and rpcinfo shows
#     it after the window's restart;
#   - a second nfsd.exe brings the window forward and ends with 0;
#   - a port already taken: "Failed to start Mount server".
# Needs root for the namespace: exits with 77 (skipped) otherwise.
set -u
mode=wine
test_ui=${1:?test_ui.exe}
program=${2:?nfsd.exe}
console=${3:?nfsd_console.exe}
client=${4:?mount_client.exe}
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
. "$here/server_lib.sh"
enter_namespace "$@" -- showmount rpcinfo

. "$here/ui_live_lib.sh"
live_setup "$work" user
live_wine="$tools/wine-run"
live_test_ui=$test_ui
live_program=$program
live_console=$console
live_mount_client=$client
status=0
live_run_tests 'Live.*' || status=$?
live_release_port
cat "$live_work/test.out" | tr -d '\r' | grep -vE '^(Running main|Note: Google Test filter)' | tail -40
[ $status = 0 ] || fail "the window's live test failed"
grep -q '^\[  PASSED  \] 1 test' <(tr -d '\r' < "$live_work/test.out") || fail "the live test did not run"
echo "PASS: ui live"
