# Flags shared by every target of the project, carried by one INTERFACE target.
add_library(varnix_config INTERFACE)
target_compile_features(varnix_config INTERFACE cxx_std_20)
target_compile_options(varnix_config INTERFACE -Wall -Wextra -Wold-style-cast)
# GCC 12 at -O2 reports -Wrestrict on plain std::string assignments from string literals
# (GCC bug 105329, a false positive inside libstdc++); it says nothing about our code.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(varnix_config INTERFACE -Wno-restrict)
endif()
if(VARNIX_WERROR)
  target_compile_options(varnix_config INTERFACE -Werror)
endif()
target_compile_definitions(varnix_config INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  VARNIX_VERSION="${PROJECT_VERSION}"
  VARNIX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  VARNIX_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  VARNIX_VERSION_PATCH=${PROJECT_VERSION_PATCH}
  VARNIX_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})

# GCC's -fsanitize=undefined leaves out float-cast-overflow (a double outside the range of the
# integer it is converted to, such as 1e300 read from a file), so it is named on its own; clang
# has it in "undefined" already and accepts the repetition. Every finding stops the program:
# a report that scrolls past in a passing test is no report.
set(VARNIX_UB_CHECKS undefined,float-cast-overflow)

if(VARNIX_SANITIZE)
  target_compile_options(varnix_config INTERFACE -fsanitize=address,${VARNIX_UB_CHECKS} -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=${VARNIX_UB_CHECKS})
  target_link_options(varnix_config INTERFACE -fsanitize=address,${VARNIX_UB_CHECKS})
endif()

if(VARNIX_TSAN)
  target_compile_options(varnix_config INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(varnix_config INTERFACE -fsanitize=thread)
endif()

if(VARNIX_FUZZ)
  # Instrument the libraries for coverage; each fuzz target adds -fsanitize=fuzzer itself.
  target_compile_options(varnix_config INTERFACE -fsanitize=fuzzer-no-link,address,${VARNIX_UB_CHECKS}
                                                 -fno-sanitize-recover=${VARNIX_UB_CHECKS} -fno-omit-frame-pointer)
  target_link_options(varnix_config INTERFACE -fsanitize=address,${VARNIX_UB_CHECKS})
endif()
