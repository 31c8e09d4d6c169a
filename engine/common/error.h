// The engine's error convention: operations return false (or null) and fill
// an optional message; a null message pointer suppresses it.
#ifndef DICTACORE_ENGINE_COMMON_ERROR_H_
#define DICTACORE_ENGINE_COMMON_ERROR_H_

#include <string>

namespace dictacore {

// Stores `message` when `error` is given and returns false, so failure paths
// read `return Fail(error, "...");`.
inline bool Fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return false;
}

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_ERROR_H_
