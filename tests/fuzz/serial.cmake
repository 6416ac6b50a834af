# The serial replies: chunk classification and the decoders of the 32-, 137- and 115-byte replies.
if(TARGET varnix_serial_frames)
  varnix_add_fuzzer(fuzz_serial_replies SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_serial_replies.cpp
                    LIBS varnix_serial_frames)
endif()
