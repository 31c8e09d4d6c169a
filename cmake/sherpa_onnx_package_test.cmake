# cmake -DSOURCE_DIR=<clone> -P cmake/sherpa_onnx_package_test.cmake
#
# The package the build takes the toolkit from must be the one npm installs on
# that machine: pinned in the lock at the version package.json asks for, as
# an optional dependency (so that other machines skip it), with the os and cpu
# that Node.js reports there (process.platform, process.arch).
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/SherpaOnnxPackage.cmake)

file(READ ${SOURCE_DIR}/package.json _manifest)
file(READ ${SOURCE_DIR}/package-lock.json _lock)

function(expect_contains json_array wanted what)
  string(JSON _count LENGTH "${json_array}")
  math(EXPR _last "${_count} - 1")
  foreach(_i RANGE ${_last})
    string(JSON _item GET "${json_array}" ${_i})
    if(_item STREQUAL wanted)
      return()
    endif()
  endforeach()
  message(SEND_ERROR "${what}: ${json_array} lacks ${wanted}")
endfunction()

# CMAKE_SYSTEM_NAME, processor as CMake names it, Node's platform and arch.
set(_machines Linux:x86_64:linux:x64 Darwin:arm64:darwin:arm64 Darwin:x86_64:darwin:x64)
foreach(_entry IN LISTS _machines)
  string(REPLACE ":" ";" _machine ${_entry})
  list(GET _machine 0 _system)
  list(GET _machine 1 _processor)
  list(GET _machine 2 _npm_os)
  list(GET _machine 3 _npm_cpu)
  sherpa_onnx_npm_package(${_system} ${_processor} _package)
  if(NOT _package)
    message(SEND_ERROR "${_system} ${_processor}: no toolkit package")
    continue()
  endif()
  string(JSON _wanted ERROR_VARIABLE _err GET "${_manifest}" optionalDependencies ${_package})
  if(_err)
    message(SEND_ERROR "${_package} is not an optional dependency in package.json")
    continue()
  endif()
  string(JSON _entry ERROR_VARIABLE _err GET "${_lock}" packages node_modules/${_package})
  if(_err)
    message(SEND_ERROR "${_package} is not in package-lock.json")
    continue()
  endif()
  string(JSON _version GET "${_entry}" version)
  string(JSON _optional ERROR_VARIABLE _err GET "${_entry}" optional)
  string(JSON _os GET "${_entry}" os)
  string(JSON _cpu GET "${_entry}" cpu)
  if(NOT _version STREQUAL _wanted)
    message(SEND_ERROR "${_package}: locked ${_version}, package.json asks for ${_wanted}")
  endif()
  if(NOT _optional STREQUAL "ON")
    message(SEND_ERROR "${_package} is not locked as optional; other machines would fail to install it")
  endif()
  expect_contains("${_os}" ${_npm_os} "${_package} os")
  expect_contains("${_cpu}" ${_npm_cpu} "${_package} cpu")
endforeach()

# package.json pins no Linux arm64 package: the build must say so instead of
# taking another machine's libraries.
sherpa_onnx_npm_package(Linux aarch64 _package)
if(_package)
  message(SEND_ERROR "Linux aarch64 maps to ${_package}, which npm never installs there")
endif()
