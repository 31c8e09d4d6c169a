// Choosing the diarization backend: the one place that knows both kinds.
#ifndef DICTACORE_ENGINE_DIARIZATION_DIARIZATION_FACTORY_H_
#define DICTACORE_ENGINE_DIARIZATION_DIARIZATION_FACTORY_H_

#include <memory>
#include <string>

#include "engine/diarization/diarization_backend.h"

namespace dictacore {

// Picks the backend the options ask for (the helper program when one is
// named, else the toolkit's) and initialises it; empty on failure.
std::unique_ptr<DiarizationBackend> CreateDiarizationBackend(const DiarizationInitOptions& options,
                                                             std::string* error);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_DIARIZATION_DIARIZATION_FACTORY_H_
