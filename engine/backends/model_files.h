// What the engine does for the toolkit before it hands it model files: the
// toolkit rejects most bad files by returning null, but a few end the whole
// process, and those are caught or checked here first.
#ifndef DICTACORE_ENGINE_BACKENDS_MODEL_FILES_H_
#define DICTACORE_ENGINE_BACKENDS_MODEL_FILES_H_

#include <exception>
#include <string>
#include <vector>

#include "engine/common/error.h"

namespace dictacore {

// Runs a toolkit call that returns a handle and stores the handle in `owner`
// (an owner from sherpa_handles.h). The toolkit's constructors return null
// for a missing model file, but throw (an onnxruntime exception) for one that
// is empty, truncated or not ONNX at all; escaping, that would end the
// engine. Either way the result is false and "<function>() failed", followed
// by ": " and the exception's message when there was one.
template <typename Owner, typename Call>
bool CallToolkit(Owner* owner, const char* function, Call&& call, std::string* error) {
  std::string what;
  try {
    owner->reset(call());
  } catch (const std::exception& e) {
    owner->reset();
    what = e.what();
  } catch (...) {
    owner->reset();
  }
  if (*owner) return true;
  std::string message = std::string(function) + "() failed";
  if (!what.empty()) message += ": " + what;
  return Fail(error, std::move(message));
}

// Checks a tokens file the way the toolkit reads it: every line, trimmed,
// must be one token, or a token and a whole 32-bit id. The toolkit ends the
// process on any other line (a tokens path pointing at a model file, say), so
// such a file is refused here: "tokens file <path>: line <n> is not
// '<token> <id>'". A file that cannot be opened passes; the toolkit reports
// it in its own way.
bool CheckTokensFile(const std::string& path, std::string* error);

// A model file as the command line gives it: the option and its value.
struct ModelFileArg {
  std::string option;
  std::string path;
  bool onnx = true;  // false for a tokens file
};

// What visibly keeps the given files from loading, for the lines that follow
// a failed start-up step: "<option> <path>: <fault>" for each file that does
// not exist, is a directory or otherwise no regular file, is empty, cannot be
// read, or (ONNX files) does not begin as an ONNX model does. Empty paths
// (options not given) and files without such a fault give nothing.
std::vector<std::string> DescribeModelFileFaults(const std::vector<ModelFileArg>& files);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_BACKENDS_MODEL_FILES_H_
