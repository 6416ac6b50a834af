# The command-list file of the debugging window: any file a user imports.
if(TARGET varnix_debug_core)
  varnix_add_fuzzer(fuzz_debug_cmdfile SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_debug_cmdfile.cpp LIBS varnix_debug_core)
endif()
