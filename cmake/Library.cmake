# dictacore_library(<name> <headers and sources...>
#                   [PUBLIC <libraries...>] [PRIVATE <libraries...>])
#
# One component: a static library of its .cc files (an interface library
# when it has none), warning-clean. PUBLIC: the libraries whose headers this
# component's headers include; PRIVATE: those only its sources use.
#
# A header is reachable only through the library that owns it. Each header is
# linked (a symbolic link, made at configure time) into
# <build>/include/<name>/ under its path in the source tree, and that folder,
# not the source tree, is the library's include directory. So
# `#include "engine/cli/run.h"` compiles in the libraries that link
# dictacore_run (or a library whose headers do) and fails everywhere else
# with "No such file or directory". Editing a header needs nothing more: the
# link points at the file; adding, moving or removing one is a change to the
# library's list here, which re-runs CMake by itself.
function(dictacore_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  set(_sources ${ARG_UNPARSED_ARGUMENTS})
  list(FILTER _sources INCLUDE REGEX "\\.cc$")
  set(_headers ${ARG_UNPARSED_ARGUMENTS})
  list(FILTER _headers EXCLUDE REGEX "\\.cc$")

  set(_staged ${CMAKE_BINARY_DIR}/include/${name})
  # Afresh each time, so a header that left this library leaves its folder.
  file(REMOVE_RECURSE ${_staged})
  file(MAKE_DIRECTORY ${_staged})
  foreach(_header IN LISTS _headers)
    get_filename_component(_path ${_header} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT EXISTS ${_path})
      message(FATAL_ERROR "${name}: no header ${_path}")
    endif()
    file(RELATIVE_PATH _relative ${CMAKE_SOURCE_DIR} ${_path})
    get_filename_component(_folder ${_staged}/${_relative} DIRECTORY)
    file(MAKE_DIRECTORY ${_folder})
    file(CREATE_LINK ${_path} ${_staged}/${_relative} SYMBOLIC)
  endforeach()

  if(_sources)
    add_library(${name} STATIC ${ARG_UNPARSED_ARGUMENTS})
    target_compile_options(${name} PRIVATE ${DICTACORE_WARNINGS})
    target_include_directories(${name} PUBLIC ${_staged})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${_staged})
    target_link_libraries(${name} INTERFACE ${ARG_PUBLIC})
  endif()
endfunction()
