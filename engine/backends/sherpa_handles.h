// Owners for the sherpa-onnx handles: each toolkit Create*/Get* result is held
// by exactly one of these, so every create has its destroy in this one file.
#ifndef DICTACORE_ENGINE_BACKENDS_SHERPA_HANDLES_H_
#define DICTACORE_ENGINE_BACKENDS_SHERPA_HANDLES_H_

#include <memory>

#include "engine/backends/sherpa_onnx_c_api.h"

namespace dictacore {

template <typename T, void (*Destroy)(const T*)>
struct SherpaDeleter {
  void operator()(const T* p) const noexcept {
    if (p != nullptr) Destroy(p);
  }
};

// A uniquely owned toolkit handle; releases it with its own destroy function.
template <typename T, void (*Destroy)(const T*)>
using SherpaHandle = std::unique_ptr<const T, SherpaDeleter<T, Destroy>>;

using OfflineRecognizerHandle =
    SherpaHandle<SherpaOnnxOfflineRecognizer, SherpaOnnxDestroyOfflineRecognizer>;
using OfflineStreamHandle =
    SherpaHandle<SherpaOnnxOfflineStream, SherpaOnnxDestroyOfflineStream>;
using OfflineResultHandle =
    SherpaHandle<SherpaOnnxOfflineRecognizerResult,
                 SherpaOnnxDestroyOfflineRecognizerResult>;

using OnlineRecognizerHandle =
    SherpaHandle<SherpaOnnxOnlineRecognizer, SherpaOnnxDestroyOnlineRecognizer>;
using OnlineStreamHandle =
    SherpaHandle<SherpaOnnxOnlineStream, SherpaOnnxDestroyOnlineStream>;
using OnlineResultHandle =
    SherpaHandle<SherpaOnnxOnlineRecognizerResult,
                 SherpaOnnxDestroyOnlineRecognizerResult>;

using PunctuationHandle =
    SherpaHandle<SherpaOnnxOfflinePunctuation, SherpaOnnxDestroyOfflinePunctuation>;
using PunctuatedTextHandle = SherpaHandle<char, SherpaOfflinePunctuationFreeText>;

using VadHandle = SherpaHandle<SherpaOnnxVoiceActivityDetector,
                               SherpaOnnxDestroyVoiceActivityDetector>;
using SpeechSegmentHandle =
    SherpaHandle<SherpaOnnxSpeechSegment, SherpaOnnxDestroySpeechSegment>;

using DiarizationHandle =
    SherpaHandle<SherpaOnnxOfflineSpeakerDiarization,
                 SherpaOnnxDestroyOfflineSpeakerDiarization>;
using DiarizationResultHandle =
    SherpaHandle<SherpaOnnxOfflineSpeakerDiarizationResult,
                 SherpaOnnxOfflineSpeakerDiarizationDestroyResult>;
using DiarizationSegmentsHandle =
    SherpaHandle<SherpaOnnxOfflineSpeakerDiarizationSegment,
                 SherpaOnnxOfflineSpeakerDiarizationDestroySegment>;

using EmbeddingExtractorHandle =
    SherpaHandle<SherpaOnnxSpeakerEmbeddingExtractor,
                 SherpaOnnxDestroySpeakerEmbeddingExtractor>;
using EmbeddingHandle =
    SherpaHandle<float, SherpaOnnxSpeakerEmbeddingExtractorDestroyEmbedding>;
using EmbeddingManagerHandle =
    SherpaHandle<SherpaOnnxSpeakerEmbeddingManager,
                 SherpaOnnxDestroySpeakerEmbeddingManager>;
using EmbeddingSearchHandle =
    SherpaHandle<char, SherpaOnnxSpeakerEmbeddingManagerFreeSearch>;

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_BACKENDS_SHERPA_HANDLES_H_
