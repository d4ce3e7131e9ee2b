# The start results that need port 111: only in a network namespace of the
# test's own (POSIX build, run as root as CI does).
if(NOT WIN32)
  add_test(NAME mount_netns
    COMMAND unshare -n sh -c "ip link set lo up && KORVANE_PRIVATE_NETNS=1 exec \"$0\" --gtest_brief=1 --gtest_filter=ServicesTest.PortMapper*"
            $<TARGET_FILE:test_${dir}>)
  set_tests_properties(mount_netns PROPERTIES LABELS "unit;mount" TIMEOUT 120)
endif()
