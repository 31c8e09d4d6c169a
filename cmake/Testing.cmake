# dictacore_add_gtest(<name> SOURCES <files...> [LIBS <targets...>]
#                     [DEFINES <defs...>] [DEPENDS <targets...>] [LABEL <label>]
#                     [TIMEOUT <seconds per test>])
# A GoogleTest executable in build/tests, warning-clean, with the build's
# program, model and audio folders compiled in, its tests registered in CTest.
# It reaches the headers of the libraries in LIBS (see cmake/Library.cmake).
function(dictacore_add_gtest name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;LIBS;DEFINES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${DICTACORE_WARNINGS})
  target_compile_definitions(${name} PRIVATE
    DICTACORE_BIN_DIR="${DICTACORE_BIN_DIR}"
    DICTACORE_MODEL_DIR="${DICTACORE_MODEL_DIR}"
    DICTACORE_AUDIO_DIR="${DICTACORE_AUDIO_DIR}"
    ${ARG_DEFINES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  if(NOT ARG_LABEL)
    set(ARG_LABEL ${name})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT})
endfunction()
