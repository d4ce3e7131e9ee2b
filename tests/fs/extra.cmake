# The inode table tests' helper program: writes the sample table and runs
# streams of changes that the kill test interrupts.
add_executable(inode_writer ${CMAKE_CURRENT_SOURCE_DIR}/fs/helpers/inode_writer_main.cpp)
target_link_libraries(inode_writer PRIVATE korvane)
target_include_directories(inode_writer PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
if(TARGET test_fs)
  add_dependencies(test_fs inode_writer)
  if(WIN32)
    set(inode_data_dir "Z:${CMAKE_CURRENT_SOURCE_DIR}/fs/data")
  else()
    set(inode_data_dir "${CMAKE_CURRENT_SOURCE_DIR}/fs/data")
  endif()
  target_compile_definitions(test_fs PRIVATE INODE_WRITER_PATH="$<TARGET_FILE:inode_writer>"
                                             INODE_DATA_DIR="${inode_data_dir}")
endif()
