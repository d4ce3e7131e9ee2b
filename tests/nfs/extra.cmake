# The NFS tests build on the mount tests' fixture (exports, mounts, inode
# table in a folder of their own).
target_sources(test_${dir} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/mount/mount_fixture.cpp)
target_include_directories(test_${dir} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/mount)
