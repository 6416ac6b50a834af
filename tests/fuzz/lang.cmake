# The Lang.txt reader (line splitting, field extraction, GBK fallback) and the lookup after it.
if(TARGET varnix_lang)
  varnix_add_fuzzer(fuzz_lang_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_lang_file.cpp LIBS varnix_lang)
endif()
