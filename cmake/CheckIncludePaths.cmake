# cmake -DSOURCE_DIR=<top of the tree> -P cmake/CheckIncludePaths.cmake
#
# Every quoted include in engine/ names its file from the top of the tree
# ("engine/cli/options.h"). A bare name ("options.h") would be found beside
# the including file, past the library that owns the header.
file(GLOB_RECURSE _files ${SOURCE_DIR}/engine/*.h ${SOURCE_DIR}/engine/*.cc)
set(_bare "")
foreach(_file IN LISTS _files)
  file(STRINGS ${_file} _includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(_include IN LISTS _includes)
    if(NOT _include MATCHES "\"(engine|tests)/")
      file(RELATIVE_PATH _name ${SOURCE_DIR} ${_file})
      string(APPEND _bare "\n  ${_name}: ${_include}")
    endif()
  endforeach()
endforeach()
if(_bare)
  message(FATAL_ERROR "includes without their folder:${_bare}")
endif()
