# The control window's tests find the language files of the source tree; on
# Windows they also drive the real window, which needs the program's
# resources linked in.
if(TARGET test_ui)
  target_compile_definitions(test_ui PRIVATE UI_SOURCE_DIR="Z:${CMAKE_SOURCE_DIR}/src/ui/")
  if(WIN32)
    target_sources(test_ui PRIVATE ${KORVANE_UI_RESOURCES})
    set_target_properties(test_ui PROPERTIES WIN32_EXECUTABLE OFF)
    add_custom_command(TARGET test_ui POST_BUILD
                       COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/src/ui/Languages
                               $<TARGET_FILE_DIR:test_ui>/Languages)
  endif()
endif()
