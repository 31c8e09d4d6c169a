# The sherpa-onnx toolkit comes from the npm package sherpa-onnx-linux-x64,
# pinned in package.json / package-lock.json and installed by `make deps`.
# Its shared libraries are copied next to our binaries (build/lib) so that the
# build tree does not depend on node_modules at run time.
set(SHERPA_ONNX_PACKAGE_DIR ${CMAKE_SOURCE_DIR}/node_modules/sherpa-onnx-linux-x64
    CACHE PATH "Directory of the installed sherpa-onnx-linux-x64 npm package")

set(_sherpa_libs libsherpa-onnx-c-api.so libonnxruntime.so)
foreach(_lib IN LISTS _sherpa_libs)
  if(NOT EXISTS ${SHERPA_ONNX_PACKAGE_DIR}/${_lib})
    message(FATAL_ERROR "${SHERPA_ONNX_PACKAGE_DIR}/${_lib} is missing; run `make deps` first")
  endif()
  configure_file(${SHERPA_ONNX_PACKAGE_DIR}/${_lib} ${DICTACORE_LIB_DIR}/${_lib} COPYONLY)
endforeach()

add_library(sherpa_onnx_c_api SHARED IMPORTED GLOBAL)
set_target_properties(sherpa_onnx_c_api PROPERTIES
  IMPORTED_LOCATION ${DICTACORE_LIB_DIR}/libsherpa-onnx-c-api.so
  IMPORTED_NO_SONAME OFF)
add_library(sherpa_onnx::c_api ALIAS sherpa_onnx_c_api)
