# The datagram classifier of the LAN link and the decoders it leads to.
if(TARGET varnix_lan)
  varnix_add_fuzzer(fuzz_lan_classify SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_lan_classify.cpp LIBS varnix_lan)
endif()
