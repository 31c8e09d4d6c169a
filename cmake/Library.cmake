# dictacore_library(<name> <headers and sources...>
#                   [PUBLIC <libraries...>] [PRIVATE <libraries...>])
#
# One component: a static library of its .cc files (an interface library
# when it has none), warning-clean. PUBLIC: the libraries whose headers this
# component's headers include; PRIVATE: those only its sources use.
function(dictacore_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  set(_sources ${ARG_UNPARSED_ARGUMENTS})
  list(FILTER _sources INCLUDE REGEX "\\.cc$")
  if(_sources)
    add_library(${name} STATIC ${ARG_UNPARSED_ARGUMENTS})
    target_compile_options(${name} PRIVATE ${DICTACORE_WARNINGS})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_PUBLIC})
  endif()
endfunction()
