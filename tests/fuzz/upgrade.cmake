# The upgrade run: boot requests, read requests and acknowledgements from the LAN.
if(TARGET varnix_upgrade_session)
  varnix_add_fuzzer(fuzz_upgrade_session SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_upgrade_session.cpp
                    LIBS varnix_upgrade_session)
endif()
