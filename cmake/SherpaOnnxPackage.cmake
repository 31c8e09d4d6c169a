# Which npm package holds the sherpa-onnx toolkit for a machine. Every one of
# them is pinned in package.json / package-lock.json as an optional
# dependency; npm installs only the one whose os and cpu fields match.

# sherpa_onnx_npm_package(<system> <processor> <out-var>): the package for
# CMAKE_SYSTEM_NAME <system> on processor <processor> (arm64, x86_64, ...), or
# "" when the toolkit publishes none for that machine.
function(sherpa_onnx_npm_package system processor out_var)
  string(TOLOWER "${processor}" processor)
  set(package "")
  if(processor MATCHES "^(x86_64|amd64)$")
    set(npm_cpu x64)
  elseif(processor MATCHES "^(arm64|aarch64)$")
    set(npm_cpu arm64)
  else()
    set(npm_cpu "")
  endif()
  if(system STREQUAL "Linux" AND npm_cpu STREQUAL "x64")
    set(package sherpa-onnx-linux-x64)
  elseif(system STREQUAL "Darwin" AND npm_cpu)
    set(package sherpa-onnx-darwin-${npm_cpu})
  endif()
  set(${out_var} "${package}" PARENT_SCOPE)
endfunction()
