# Castorel.exe: statically linked so that it imports only Windows system DLLs, stripped, and
# without a link timestamp so that two builds of one commit are byte-identical.
add_executable(Castorel
  src/app/main.cpp
  src/platform/process_win32.cpp
  src/platform/files_win32.cpp
  src/platform/identity_win32.cpp
  src/platform/rights_win32.cpp
  src/platform/shell_copy_win32.cpp
  res/castorel.rc
)

# SHELL32, SHLWAPI, USER32 and ADVAPI32 are delay-loaded: they, and all they pull in, load at
# their first call, after the entry has limited DLL loads to the system folder. At start the
# process loads only KERNEL32 and msvcrt, which Windows always takes from the system folder.
set(CASTOREL_DELAY_LIBRARIES)
foreach(dll shell32 shlwapi user32 advapi32)
  set(library ${CMAKE_CURRENT_BINARY_DIR}/lib${dll}_delay.a)
  add_custom_command(
    OUTPUT ${library}
    COMMAND ${CMAKE_DLLTOOL} -d ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/${dll}.def -y ${library}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/${dll}.def
    COMMENT "Delay-import library of ${dll}"
  )
  list(APPEND CASTOREL_DELAY_LIBRARIES ${library})
endforeach()
add_custom_target(castorel_delay_libraries DEPENDS ${CASTOREL_DELAY_LIBRARIES})
add_dependencies(Castorel castorel_delay_libraries)
target_link_libraries(Castorel PRIVATE castorel_logic ${CASTOREL_DELAY_LIBRARIES} delayimp)
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

# The startup benchmark's baseline, built only when the benchmark asks for it.
add_executable(minimal_console EXCLUDE_FROM_ALL bench/minimal_console.cpp)
target_link_options(minimal_console PRIVATE -static -municode -s)

# The copy benchmark's floor, built only when the benchmark asks for it.
add_executable(bare_copy EXCLUDE_FROM_ALL bench/bare_copy.cpp)
target_link_libraries(bare_copy PRIVATE shell32)
target_link_options(bare_copy PRIVATE -static -municode -s)
