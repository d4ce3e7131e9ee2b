# The backend looks up its kernel32 entry points at every start; the POSIX
# layer's module objects for that are never freed (see fs_handles/lsan.supp).
if(TARGET test_fs_handles AND NOT WIN32)
  set_property(TEST fs_handles APPEND PROPERTY ENVIRONMENT
               "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/fs_handles/lsan.supp")
endif()
