# The durability test's helper program: a backend running a stream of
# creates, synchronous writes and renames until the test kills it.
if(NOT WIN32)
  add_executable(durability_writer ${CMAKE_CURRENT_SOURCE_DIR}/backend/helpers/durability_writer_main.cpp)
  target_link_libraries(durability_writer PRIVATE korvane)
  target_include_directories(durability_writer PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  if(TARGET test_backend)
    add_dependencies(test_backend durability_writer)
    target_compile_definitions(test_backend PRIVATE DURABILITY_WRITER_PATH="$<TARGET_FILE:durability_writer>")
  endif()
endif()
