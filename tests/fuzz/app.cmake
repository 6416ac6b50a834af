# The Cfg.ini reader and writer: any file a user or the old tool left behind.
if(TARGET varnix_app)
  varnix_add_fuzzer(fuzz_app_ini SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_app_ini.cpp LIBS varnix_app)
endif()
# The change journal: a file any process (or a crash) may have left damaged.
if(TARGET varnix_app)
  varnix_add_fuzzer(fuzz_app_journal SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_app_journal.cpp LIBS varnix_app)
endif()
