#!/bin/bash
# A kernel client's mount through a crash and restart of the server, and
# through the unmount of a second mount of the same export (a workload for
# the kernel-client harness, run by bench/run-kclient-restart, which kills
# and restarts the server when this suite says "restart window open").
. /kc/guest/lib.sh
workdir
echo before > kept
exec 3<kept
ls -l > /dev/null

info "restart window open"
# Writes and reads back a file every 200 ms for 60 s; the server is killed
# and started again meanwhile.  Any error (ESTALE above all) is counted.
errors=0
i=0
end=$((SECONDS + 60))
while [ $SECONDS -lt $end ]; do
  if ! echo "line $i" > "f.$i" 2>> /tmp/restart.err || [ "$(cat "f.$i" 2>> /tmp/restart.err)" != "line $i" ]; then
    errors=$((errors + 1))
  fi
  i=$((i + 1))
  sleep 0.2
done
info "$i writes, $errors errors: $(head -c 300 /tmp/restart.err | tr '\n' ' ')"
expect_eq "writes and reads through the restart" "$errors" 0
check "a file made before the restart reads" test "$(cat kept)" = before
check "a file held open across the restart reads" bash -c 'read -r line <&3 && test "$line" = before'
check "its folder lists after the restart" bash -c "ls | grep -qx kept"

# The second mount of the export goes; the first must not notice.
check "the second mount reads" test "$(cat "$WD2/kept")" = before
check "unmount of the second mount" umount "$MNT2"
check "the first mount writes after it" bash -c 'echo after > after && test "$(cat after)" = after'
dropcaches
check "the first mount reads after it" test "$(cat kept)" = before
check "the first mount lists after it" bash -c "ls | grep -qx after"
exec 3<&-
cleanup_workdir
finish
