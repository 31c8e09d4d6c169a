// One final transcript segment, as the decode pipelines produce it and the
// event stream writes it.
#ifndef DICTACORE_ENGINE_COMMON_SEGMENT_RESULT_H_
#define DICTACORE_ENGINE_COMMON_SEGMENT_RESULT_H_

#include <string>

namespace dictacore {

struct SegmentResult {
  double start = 0.0;  // seconds from the first sample of the session or file
  double end = 0.0;
  std::string text;     // UTF-8
  std::string speaker;  // empty when unknown
};

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_SEGMENT_RESULT_H_
