# The sherpa-onnx toolkit comes from the npm package of the system and
# processor the build is for (sherpa-onnx-linux-x64, sherpa-onnx-darwin-arm64
# or sherpa-onnx-darwin-x64), pinned in package.json / package-lock.json and
# installed by `make deps`. Its shared libraries are copied next to our
# binaries (build/lib) so that the build tree does not depend on node_modules
# at run time; programs find them through DICTACORE_LIB_RPATH.
include(${CMAKE_CURRENT_LIST_DIR}/SherpaOnnxPackage.cmake)

set(_sherpa_processor ${CMAKE_SYSTEM_PROCESSOR})
if(APPLE AND CMAKE_OSX_ARCHITECTURES)
  list(LENGTH CMAKE_OSX_ARCHITECTURES _sherpa_arch_count)
  if(_sherpa_arch_count GREATER 1)
    message(FATAL_ERROR "The toolkit's macOS packages hold one architecture each: set "
      "CMAKE_OSX_ARCHITECTURES to arm64 or x86_64, not ${CMAKE_OSX_ARCHITECTURES}")
  endif()
  set(_sherpa_processor ${CMAKE_OSX_ARCHITECTURES})
endif()
sherpa_onnx_npm_package(${CMAKE_SYSTEM_NAME} "${_sherpa_processor}" SHERPA_ONNX_PACKAGE)
if(NOT SHERPA_ONNX_PACKAGE)
  message(FATAL_ERROR "No sherpa-onnx npm package for ${CMAKE_SYSTEM_NAME} on "
    "${_sherpa_processor}; set SHERPA_ONNX_PACKAGE_DIR to a folder holding the toolkit's libraries")
endif()
set(SHERPA_ONNX_PACKAGE_DIR ${CMAKE_SOURCE_DIR}/node_modules/${SHERPA_ONNX_PACKAGE}
    CACHE PATH "Directory of the installed sherpa-onnx npm package of this machine")

# The C API library and the runtime it loads, under the names it records for
# it (on macOS the versioned name of onnxruntime 1.27.0, which toolkit 1.13.4
# links).
if(APPLE)
  set(_sherpa_libs libsherpa-onnx-c-api.dylib libonnxruntime.1.27.0.dylib)
  # The toolkit's libraries are installed as @rpath/<name>, and find each
  # other through their own @loader_path.
  set(DICTACORE_LIB_RPATH "@loader_path/../lib")
else()
  set(_sherpa_libs libsherpa-onnx-c-api.so libonnxruntime.so)
  set(DICTACORE_LIB_RPATH "$ORIGIN/../lib")
endif()
foreach(_lib IN LISTS _sherpa_libs)
  if(NOT EXISTS ${SHERPA_ONNX_PACKAGE_DIR}/${_lib})
    message(FATAL_ERROR "${SHERPA_ONNX_PACKAGE_DIR}/${_lib} is missing; run `make deps` first")
  endif()
  configure_file(${SHERPA_ONNX_PACKAGE_DIR}/${_lib} ${DICTACORE_LIB_DIR}/${_lib} COPYONLY)
endforeach()

add_library(sherpa_onnx_c_api SHARED IMPORTED GLOBAL)
list(GET _sherpa_libs 0 _sherpa_c_api)
set_target_properties(sherpa_onnx_c_api PROPERTIES
  IMPORTED_LOCATION ${DICTACORE_LIB_DIR}/${_sherpa_c_api}
  IMPORTED_NO_SONAME OFF)
if(APPLE)
  # Tells CMake that the library is found through the run path, so that the
  # programs built here get build/lib as one.
  set_target_properties(sherpa_onnx_c_api PROPERTIES
    IMPORTED_SONAME "@rpath/${_sherpa_c_api}")
endif()
add_library(sherpa_onnx::c_api ALIAS sherpa_onnx_c_api)
