# Packet comments and password masking of captures: every datagram anyone on the LAN sends, and
# every chunk on a serial line, goes through them.
if(TARGET varnix_capture)
  varnix_add_fuzzer(fuzz_capture_describe SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_capture_describe.cpp
                    LIBS varnix_capture)
endif()
