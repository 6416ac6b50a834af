# The parsers of varnix-cli's outside input: provisioning sheets (CSV), profiles (JSON) and
# NAME=VALUE assignments from the command line.
if(TARGET varnix_cli_lib)
  varnix_add_fuzzer(fuzz_cli_sheet SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_cli_sheet.cpp LIBS varnix_cli_lib)
  varnix_add_fuzzer(fuzz_cli_profile SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_cli_profile.cpp LIBS varnix_cli_lib)
  varnix_add_fuzzer(fuzz_cli_assign SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_cli_assign.cpp LIBS varnix_cli_lib)
endif()
