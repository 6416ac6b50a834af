# Block decoders and text converters of the protocol core: every byte a module or a user sends.
if(TARGET varnix_core)
  varnix_add_fuzzer(fuzz_core_blocks SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_core_blocks.cpp LIBS varnix_core)
endif()
