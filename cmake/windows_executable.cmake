# Castorel.exe: statically linked so that it imports only Windows system DLLs, stripped, and
# without a link timestamp so that two builds of one commit are byte-identical.
add_executable(Castorel
  src/app/main.cpp
  src/platform/platform_operations_win32.cpp
  res/castorel.rc
)
target_link_libraries(Castorel PRIVATE castorel_logic shell32 shlwapi)
target_link_options(Castorel PRIVATE -static -municode -s -Wl,--no-insert-timestamp)

# The icon is drawn at build time by a script kept beside the resources.
set(CASTOREL_ICON ${CMAKE_CURRENT_BINARY_DIR}/res/castorel.ico)
add_custom_command(
  OUTPUT ${CASTOREL_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/res
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/res/draw_icon.py ${CASTOREL_ICON}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/res/draw_icon.py
  COMMENT "Drawing the icon"
)
add_custom_target(castorel_icon DEPENDS ${CASTOREL_ICON})
add_dependencies(Castorel castorel_icon)
target_include_directories(Castorel PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/res)
# Ninja does not see the files a .rc names; without this a changed icon or manifest is missed.
set_source_files_properties(res/castorel.rc PROPERTIES
  OBJECT_DEPENDS "${CASTOREL_ICON};${CMAKE_CURRENT_SOURCE_DIR}/res/castorel.manifest")
