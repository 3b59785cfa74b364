# castorel-report: a program of its own for Linux and Windows, sharing only the tool's record
# texts and the meanings of its error numbers, never its code paths into the system.
add_library(castorel_report_reader STATIC
  src/report/log_reader.cpp
  src/report/fleet_report.cpp
  src/report/fleet_page.cpp
  src/report/log_file.cpp
  src/report/output_file.cpp
  src/report/report_outputs.cpp
  src/report/text_encodings.cpp
  src/report/fleet_walk.cpp
)
target_include_directories(castorel_report_reader PUBLIC src)
target_link_libraries(castorel_report_reader PUBLIC castorel_warnings)
add_executable(castorel-report src/report/main.cpp)
target_link_libraries(castorel-report PRIVATE castorel_report_reader)
# --version says the kit's version, the same as the exe's version record.
target_compile_definitions(castorel-report PRIVATE CASTOREL_VERSION="${PROJECT_VERSION}")

if(WIN32)
  # Its libraries are header-only, Debian's, reached through a folder of their own: the cross
  # build must see none of the host's other headers.
  set(report_headers ${CMAKE_BINARY_DIR}/report-headers)
  file(MAKE_DIRECTORY ${report_headers})
  foreach(library nlohmann CLI)
    file(CREATE_LINK /usr/include/${library} ${report_headers}/${library} SYMBOLIC)
  endforeach()
  target_include_directories(castorel_report_reader SYSTEM PUBLIC ${report_headers})
  # Statically linked, so that it imports only Windows' system DLLs; reproducible as the tool.
  target_link_options(castorel-report PRIVATE -static -municode -s -Wl,--no-insert-timestamp)
else()
  find_package(nlohmann_json REQUIRED)
  find_package(CLI11 REQUIRED)
  target_link_libraries(castorel_report_reader PUBLIC nlohmann_json::nlohmann_json CLI11::CLI11)
endif()
