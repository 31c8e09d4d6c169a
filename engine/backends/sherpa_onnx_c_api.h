// Declarations of the sherpa-onnx C API (libsherpa-onnx-c-api.so) that the
// engine calls. The toolkit package ships no header, so the structs below are
// written out field for field for the pinned toolkit version 1.13.4 on x86-64
// Linux. The library reads every config struct by pointer with exactly this
// layout: the static_asserts pin each struct's size and each field's offset so
// that a drift is a compile error instead of a silently misread config.
//
// Rules for callers: zero-initialise every config struct (`T config{}`) and set
// only the fields you need; every Create* has its Destroy* in sherpa_handles.h.
#ifndef DICTACORE_ENGINE_BACKENDS_SHERPA_ONNX_C_API_H_
#define DICTACORE_ENGINE_BACKENDS_SHERPA_ONNX_C_API_H_

#include <cstddef>
#include <cstdint>

// The toolkit version these declarations describe.
#define DICTACORE_SHERPA_ONNX_VERSION "1.13.4"

#define DICTACORE_ABI_SIZE(type, bytes) \
  static_assert(sizeof(type) == (bytes), "sherpa-onnx ABI: size of " #type)
#define DICTACORE_ABI_OFFSET(type, field, bytes)   \
  static_assert(offsetof(type, field) == (bytes), \
                "sherpa-onnx ABI: offset of " #type "::" #field)

extern "C" {

// Opaque handles.
typedef struct SherpaOnnxOfflineRecognizer SherpaOnnxOfflineRecognizer;
typedef struct SherpaOnnxOfflineStream SherpaOnnxOfflineStream;
typedef struct SherpaOnnxOnlineRecognizer SherpaOnnxOnlineRecognizer;
typedef struct SherpaOnnxOnlineStream SherpaOnnxOnlineStream;
typedef struct SherpaOnnxOfflinePunctuation SherpaOnnxOfflinePunctuation;
typedef struct SherpaOnnxVoiceActivityDetector SherpaOnnxVoiceActivityDetector;
typedef struct SherpaOnnxOfflineSpeakerDiarization
    SherpaOnnxOfflineSpeakerDiarization;
typedef struct SherpaOnnxOfflineSpeakerDiarizationResult
    SherpaOnnxOfflineSpeakerDiarizationResult;
typedef struct SherpaOnnxSpeakerEmbeddingExtractor
    SherpaOnnxSpeakerEmbeddingExtractor;
typedef struct SherpaOnnxSpeakerEmbeddingManager
    SherpaOnnxSpeakerEmbeddingManager;

typedef struct SherpaOnnxFeatureConfig {
  int32_t sample_rate;
  int32_t feature_dim;
} SherpaOnnxFeatureConfig;
DICTACORE_ABI_SIZE(SherpaOnnxFeatureConfig, 8);

typedef struct SherpaOnnxOfflineTransducerModelConfig {
  const char *encoder;
  const char *decoder;
  const char *joiner;
} SherpaOnnxOfflineTransducerModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineTransducerModelConfig, 24);

typedef struct SherpaOnnxOfflineParaformerModelConfig {
  const char *model;
} SherpaOnnxOfflineParaformerModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineParaformerModelConfig, 8);

typedef struct SherpaOnnxOfflineNemoEncDecCtcModelConfig {
  const char *model;
} SherpaOnnxOfflineNemoEncDecCtcModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineNemoEncDecCtcModelConfig, 8);

typedef struct SherpaOnnxOfflineWhisperModelConfig {
  const char *encoder;
  const char *decoder;
  const char *language;
  const char *task;
  int32_t tail_paddings;
  int32_t enable_token_timestamps;
  int32_t enable_segment_timestamps;
} SherpaOnnxOfflineWhisperModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineWhisperModelConfig, 48);

typedef struct SherpaOnnxOfflineTdnnModelConfig {
  const char *model;
} SherpaOnnxOfflineTdnnModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineTdnnModelConfig, 8);

typedef struct SherpaOnnxOfflineSenseVoiceModelConfig {
  const char *model;
  const char *language;
  int32_t use_itn;
} SherpaOnnxOfflineSenseVoiceModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineSenseVoiceModelConfig, 24);

typedef struct SherpaOnnxOfflineMoonshineModelConfig {
  const char *preprocessor;
  const char *encoder;
  const char *uncached_decoder;
  const char *cached_decoder;
  const char *merged_decoder;
} SherpaOnnxOfflineMoonshineModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineMoonshineModelConfig, 40);

typedef struct SherpaOnnxOfflineFireRedAsrModelConfig {
  const char *encoder;
  const char *decoder;
} SherpaOnnxOfflineFireRedAsrModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineFireRedAsrModelConfig, 16);

typedef struct SherpaOnnxOfflineDolphinModelConfig {
  const char *model;
} SherpaOnnxOfflineDolphinModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineDolphinModelConfig, 8);

typedef struct SherpaOnnxOfflineZipformerCtcModelConfig {
  const char *model;
} SherpaOnnxOfflineZipformerCtcModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineZipformerCtcModelConfig, 8);

typedef struct SherpaOnnxOfflineCanaryModelConfig {
  const char *encoder;
  const char *decoder;
  const char *src_lang;
  const char *tgt_lang;
  int32_t use_pnc;
} SherpaOnnxOfflineCanaryModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineCanaryModelConfig, 40);

typedef struct SherpaOnnxOfflineWenetCtcModelConfig {
  const char *model;
} SherpaOnnxOfflineWenetCtcModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineWenetCtcModelConfig, 8);

typedef struct SherpaOnnxOfflineOmnilingualAsrCtcModelConfig {
  const char *model;
} SherpaOnnxOfflineOmnilingualAsrCtcModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineOmnilingualAsrCtcModelConfig, 8);

typedef struct SherpaOnnxOfflineMedAsrCtcModelConfig {
  const char *model;
} SherpaOnnxOfflineMedAsrCtcModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineMedAsrCtcModelConfig, 8);

typedef struct SherpaOnnxOfflineFunASRNanoModelConfig {
  const char *encoder_adaptor;
  const char *llm;
  const char *embedding;
  const char *tokenizer;
  const char *system_prompt;
  const char *user_prompt;
  int32_t max_new_tokens;
  float temperature;
  float top_p;
  int32_t seed;
  const char *language;
  int32_t itn;
  const char *hotwords;
} SherpaOnnxOfflineFunASRNanoModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineFunASRNanoModelConfig, 88);

typedef struct SherpaOnnxOfflineFireRedAsrCtcModelConfig {
  const char *model;
} SherpaOnnxOfflineFireRedAsrCtcModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineFireRedAsrCtcModelConfig, 8);

typedef struct SherpaOnnxOfflineQwen3ASRModelConfig {
  const char *conv_frontend;
  const char *encoder;
  const char *decoder;
  const char *tokenizer;
  int32_t max_total_len;
  int32_t max_new_tokens;
  float temperature;
  float top_p;
  int32_t seed;
  const char *hotwords;
} SherpaOnnxOfflineQwen3ASRModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineQwen3ASRModelConfig, 64);

typedef struct SherpaOnnxOfflineCohereTranscribeModelConfig {
  const char *encoder;
  const char *decoder;
  const char *language;
  int32_t use_punct;
  int32_t use_itn;
} SherpaOnnxOfflineCohereTranscribeModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineCohereTranscribeModelConfig, 32);

typedef struct SherpaOnnxOfflineModelConfig {
  SherpaOnnxOfflineTransducerModelConfig transducer;
  SherpaOnnxOfflineParaformerModelConfig paraformer;
  SherpaOnnxOfflineNemoEncDecCtcModelConfig nemo_ctc;
  SherpaOnnxOfflineWhisperModelConfig whisper;
  SherpaOnnxOfflineTdnnModelConfig tdnn;
  const char *tokens;
  int32_t num_threads;
  int32_t debug;
  const char *provider;
  const char *model_type;
  const char *modeling_unit;
  const char *bpe_vocab;
  const char *telespeech_ctc;
  SherpaOnnxOfflineSenseVoiceModelConfig sense_voice;
  SherpaOnnxOfflineMoonshineModelConfig moonshine;
  SherpaOnnxOfflineFireRedAsrModelConfig fire_red_asr;
  SherpaOnnxOfflineDolphinModelConfig dolphin;
  SherpaOnnxOfflineZipformerCtcModelConfig zipformer_ctc;
  SherpaOnnxOfflineCanaryModelConfig canary;
  SherpaOnnxOfflineWenetCtcModelConfig wenet_ctc;
  SherpaOnnxOfflineOmnilingualAsrCtcModelConfig omnilingual;
  SherpaOnnxOfflineMedAsrCtcModelConfig medasr;
  SherpaOnnxOfflineFunASRNanoModelConfig funasr_nano;
  SherpaOnnxOfflineFireRedAsrCtcModelConfig fire_red_asr_ctc;
  SherpaOnnxOfflineQwen3ASRModelConfig qwen3_asr;
  SherpaOnnxOfflineCohereTranscribeModelConfig cohere_transcribe;
} SherpaOnnxOfflineModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineModelConfig, 504);

typedef struct SherpaOnnxOfflineLMConfig {
  const char *model;
  float scale;
} SherpaOnnxOfflineLMConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineLMConfig, 16);

typedef struct SherpaOnnxHomophoneReplacerConfig {
  const char *dict_dir;
  const char *lexicon;
  const char *rule_fsts;
} SherpaOnnxHomophoneReplacerConfig;
DICTACORE_ABI_SIZE(SherpaOnnxHomophoneReplacerConfig, 24);

typedef struct SherpaOnnxOfflineRecognizerConfig {
  SherpaOnnxFeatureConfig feat_config;
  SherpaOnnxOfflineModelConfig model_config;
  SherpaOnnxOfflineLMConfig lm_config;
  const char *decoding_method;
  int32_t max_active_paths;
  const char *hotwords_file;
  float hotwords_score;
  const char *rule_fsts;
  const char *rule_fars;
  float blank_penalty;
  SherpaOnnxHomophoneReplacerConfig hr;
} SherpaOnnxOfflineRecognizerConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineRecognizerConfig, 608);

typedef struct SherpaOnnxOfflineRecognizerResult {
  const char *text;
  float *timestamps;
  int32_t count;
  const char *tokens;
  const char *const *tokens_arr;
  const char *json;
  const char *lang;
  const char *emotion;
  const char *event;
  float *durations;
  float *ys_log_probs;
  const float *segment_timestamps;
  const float *segment_durations;
  const char *segment_texts;
  const char *const *segment_texts_arr;
  int32_t segment_count;
} SherpaOnnxOfflineRecognizerResult;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineRecognizerResult, 128);

typedef struct SherpaOnnxOnlineTransducerModelConfig {
  const char *encoder;
  const char *decoder;
  const char *joiner;
} SherpaOnnxOnlineTransducerModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOnlineTransducerModelConfig, 24);

typedef struct SherpaOnnxOnlineParaformerModelConfig {
  const char *encoder;
  const char *decoder;
} SherpaOnnxOnlineParaformerModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOnlineParaformerModelConfig, 16);

typedef struct SherpaOnnxOnlineZipformer2CtcModelConfig {
  const char *model;
} SherpaOnnxOnlineZipformer2CtcModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOnlineZipformer2CtcModelConfig, 8);

typedef struct SherpaOnnxOnlineNemoCtcModelConfig {
  const char *model;
} SherpaOnnxOnlineNemoCtcModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOnlineNemoCtcModelConfig, 8);

typedef struct SherpaOnnxOnlineToneCtcModelConfig {
  const char *model;
} SherpaOnnxOnlineToneCtcModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOnlineToneCtcModelConfig, 8);

typedef struct SherpaOnnxOnlineModelConfig {
  SherpaOnnxOnlineTransducerModelConfig transducer;
  SherpaOnnxOnlineParaformerModelConfig paraformer;
  SherpaOnnxOnlineZipformer2CtcModelConfig zipformer2_ctc;
  const char *tokens;
  int32_t num_threads;
  const char *provider;
  int32_t debug;
  const char *model_type;
  const char *modeling_unit;
  const char *bpe_vocab;
  const char *tokens_buf;
  int32_t tokens_buf_size;
  SherpaOnnxOnlineNemoCtcModelConfig nemo_ctc;
  SherpaOnnxOnlineToneCtcModelConfig t_one_ctc;
} SherpaOnnxOnlineModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOnlineModelConfig, 136);

typedef struct SherpaOnnxOnlineCtcFstDecoderConfig {
  const char *graph;
  int32_t max_active;
} SherpaOnnxOnlineCtcFstDecoderConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOnlineCtcFstDecoderConfig, 16);

typedef struct SherpaOnnxOnlineRecognizerConfig {
  SherpaOnnxFeatureConfig feat_config;
  SherpaOnnxOnlineModelConfig model_config;
  const char *decoding_method;
  int32_t max_active_paths;
  int32_t enable_endpoint;
  float rule1_min_trailing_silence;
  float rule2_min_trailing_silence;
  float rule3_min_utterance_length;
  const char *hotwords_file;
  float hotwords_score;
  SherpaOnnxOnlineCtcFstDecoderConfig ctc_fst_decoder_config;
  const char *rule_fsts;
  const char *rule_fars;
  float blank_penalty;
  const char *hotwords_buf;
  int32_t hotwords_buf_size;
  SherpaOnnxHomophoneReplacerConfig hr;
} SherpaOnnxOnlineRecognizerConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOnlineRecognizerConfig, 272);

typedef struct SherpaOnnxOnlineRecognizerResult {
  const char *text;
  const char *tokens;
  const char *const *tokens_arr;
  float *timestamps;
  int32_t count;
  const char *json;
} SherpaOnnxOnlineRecognizerResult;
DICTACORE_ABI_SIZE(SherpaOnnxOnlineRecognizerResult, 48);

typedef struct SherpaOnnxOfflinePunctuationModelConfig {
  const char *ct_transformer;
  int32_t num_threads;
  int32_t debug;
  const char *provider;
} SherpaOnnxOfflinePunctuationModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflinePunctuationModelConfig, 24);

typedef struct SherpaOnnxOfflinePunctuationConfig {
  SherpaOnnxOfflinePunctuationModelConfig model;
} SherpaOnnxOfflinePunctuationConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflinePunctuationConfig, 24);

typedef struct SherpaOnnxSileroVadModelConfig {
  const char *model;
  float threshold;
  float min_silence_duration;
  float min_speech_duration;
  int32_t window_size;
  float max_speech_duration;
} SherpaOnnxSileroVadModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxSileroVadModelConfig, 32);

typedef struct SherpaOnnxTenVadModelConfig {
  const char *model;
  float threshold;
  float min_silence_duration;
  float min_speech_duration;
  int32_t window_size;
  float max_speech_duration;
} SherpaOnnxTenVadModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxTenVadModelConfig, 32);

typedef struct SherpaOnnxVadModelConfig {
  SherpaOnnxSileroVadModelConfig silero_vad;
  int32_t sample_rate;
  int32_t num_threads;
  const char *provider;
  int32_t debug;
  SherpaOnnxTenVadModelConfig ten_vad;
} SherpaOnnxVadModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxVadModelConfig, 88);

typedef struct SherpaOnnxSpeechSegment {
  int32_t start;
  float *samples;
  int32_t n;
} SherpaOnnxSpeechSegment;
DICTACORE_ABI_SIZE(SherpaOnnxSpeechSegment, 24);

typedef struct SherpaOnnxOfflineSpeakerSegmentationPyannoteModelConfig {
  const char *model;
} SherpaOnnxOfflineSpeakerSegmentationPyannoteModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineSpeakerSegmentationPyannoteModelConfig, 8);

typedef struct SherpaOnnxOfflineSpeakerSegmentationModelConfig {
  SherpaOnnxOfflineSpeakerSegmentationPyannoteModelConfig pyannote;
  int32_t num_threads;
  int32_t debug;
  const char *provider;
} SherpaOnnxOfflineSpeakerSegmentationModelConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineSpeakerSegmentationModelConfig, 24);

typedef struct SherpaOnnxSpeakerEmbeddingExtractorConfig {
  const char *model;
  int32_t num_threads;
  int32_t debug;
  const char *provider;
} SherpaOnnxSpeakerEmbeddingExtractorConfig;
DICTACORE_ABI_SIZE(SherpaOnnxSpeakerEmbeddingExtractorConfig, 24);

typedef struct SherpaOnnxFastClusteringConfig {
  int32_t num_clusters;
  float threshold;
} SherpaOnnxFastClusteringConfig;
DICTACORE_ABI_SIZE(SherpaOnnxFastClusteringConfig, 8);

typedef struct SherpaOnnxOfflineSpeakerDiarizationConfig {
  SherpaOnnxOfflineSpeakerSegmentationModelConfig segmentation;
  SherpaOnnxSpeakerEmbeddingExtractorConfig embedding;
  SherpaOnnxFastClusteringConfig clustering;
  float min_duration_on;
  float min_duration_off;
} SherpaOnnxOfflineSpeakerDiarizationConfig;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineSpeakerDiarizationConfig, 64);

typedef struct SherpaOnnxOfflineSpeakerDiarizationSegment {
  float start;
  float end;
  int32_t speaker;
} SherpaOnnxOfflineSpeakerDiarizationSegment;
DICTACORE_ABI_SIZE(SherpaOnnxOfflineSpeakerDiarizationSegment, 12);

// ---- Functions ----

const SherpaOnnxOfflineRecognizer *SherpaOnnxCreateOfflineRecognizer(const SherpaOnnxOfflineRecognizerConfig *config);
void SherpaOnnxDestroyOfflineRecognizer(const SherpaOnnxOfflineRecognizer *recognizer);
const SherpaOnnxOfflineStream *SherpaOnnxCreateOfflineStream(const SherpaOnnxOfflineRecognizer *recognizer);
void SherpaOnnxDestroyOfflineStream(const SherpaOnnxOfflineStream *stream);
void SherpaOnnxAcceptWaveformOffline(const SherpaOnnxOfflineStream *stream, int32_t sample_rate, const float *samples, int32_t n);
void SherpaOnnxDecodeOfflineStream(const SherpaOnnxOfflineRecognizer *recognizer, const SherpaOnnxOfflineStream *stream);
const SherpaOnnxOfflineRecognizerResult *SherpaOnnxGetOfflineStreamResult(const SherpaOnnxOfflineStream *stream);
void SherpaOnnxDestroyOfflineRecognizerResult(const SherpaOnnxOfflineRecognizerResult *r);
const SherpaOnnxOnlineRecognizer *SherpaOnnxCreateOnlineRecognizer(const SherpaOnnxOnlineRecognizerConfig *config);
void SherpaOnnxDestroyOnlineRecognizer(const SherpaOnnxOnlineRecognizer *recognizer);
const SherpaOnnxOnlineStream *SherpaOnnxCreateOnlineStream(const SherpaOnnxOnlineRecognizer *recognizer);
void SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream *stream);
void SherpaOnnxOnlineStreamAcceptWaveform(const SherpaOnnxOnlineStream *stream, int32_t sample_rate, const float *samples, int32_t n);
int32_t SherpaOnnxIsOnlineStreamReady(const SherpaOnnxOnlineRecognizer *recognizer, const SherpaOnnxOnlineStream *stream);
void SherpaOnnxDecodeOnlineStream(const SherpaOnnxOnlineRecognizer *recognizer, const SherpaOnnxOnlineStream *stream);
const SherpaOnnxOnlineRecognizerResult *SherpaOnnxGetOnlineStreamResult(const SherpaOnnxOnlineRecognizer *recognizer, const SherpaOnnxOnlineStream *stream);
void SherpaOnnxDestroyOnlineRecognizerResult(const SherpaOnnxOnlineRecognizerResult *r);
void SherpaOnnxOnlineStreamInputFinished(const SherpaOnnxOnlineStream *stream);
int32_t SherpaOnnxOnlineStreamIsEndpoint(const SherpaOnnxOnlineRecognizer *recognizer, const SherpaOnnxOnlineStream *stream);
void SherpaOnnxOnlineStreamReset(const SherpaOnnxOnlineRecognizer *recognizer, const SherpaOnnxOnlineStream *stream);
const SherpaOnnxOfflinePunctuation *SherpaOnnxCreateOfflinePunctuation(const SherpaOnnxOfflinePunctuationConfig *config);
void SherpaOnnxDestroyOfflinePunctuation(const SherpaOnnxOfflinePunctuation *punct);
const char *SherpaOfflinePunctuationAddPunct(const SherpaOnnxOfflinePunctuation *punct, const char *text);
void SherpaOfflinePunctuationFreeText(const char *text);
const SherpaOnnxVoiceActivityDetector *SherpaOnnxCreateVoiceActivityDetector(const SherpaOnnxVadModelConfig *config, float buffer_size_in_seconds);
void SherpaOnnxDestroyVoiceActivityDetector(const SherpaOnnxVoiceActivityDetector *p);
void SherpaOnnxVoiceActivityDetectorAcceptWaveform(const SherpaOnnxVoiceActivityDetector *p, const float *samples, int32_t n);
int32_t SherpaOnnxVoiceActivityDetectorEmpty(const SherpaOnnxVoiceActivityDetector *p);
int32_t SherpaOnnxVoiceActivityDetectorDetected(const SherpaOnnxVoiceActivityDetector *p);
void SherpaOnnxVoiceActivityDetectorPop(const SherpaOnnxVoiceActivityDetector *p);
void SherpaOnnxVoiceActivityDetectorClear(const SherpaOnnxVoiceActivityDetector *p);
const SherpaOnnxSpeechSegment *SherpaOnnxVoiceActivityDetectorFront(const SherpaOnnxVoiceActivityDetector *p);
void SherpaOnnxDestroySpeechSegment(const SherpaOnnxSpeechSegment *p);
void SherpaOnnxVoiceActivityDetectorReset(const SherpaOnnxVoiceActivityDetector *p);
void SherpaOnnxVoiceActivityDetectorFlush(const SherpaOnnxVoiceActivityDetector *p);
const SherpaOnnxOfflineSpeakerDiarization *SherpaOnnxCreateOfflineSpeakerDiarization(const SherpaOnnxOfflineSpeakerDiarizationConfig *config);
void SherpaOnnxDestroyOfflineSpeakerDiarization(const SherpaOnnxOfflineSpeakerDiarization *sd);
int32_t SherpaOnnxOfflineSpeakerDiarizationGetSampleRate(const SherpaOnnxOfflineSpeakerDiarization *sd);
const SherpaOnnxOfflineSpeakerDiarizationResult *SherpaOnnxOfflineSpeakerDiarizationProcess(const SherpaOnnxOfflineSpeakerDiarization *sd, const float *samples, int32_t n);
int32_t SherpaOnnxOfflineSpeakerDiarizationResultGetNumSpeakers(const SherpaOnnxOfflineSpeakerDiarizationResult *r);
int32_t SherpaOnnxOfflineSpeakerDiarizationResultGetNumSegments(const SherpaOnnxOfflineSpeakerDiarizationResult *r);
const SherpaOnnxOfflineSpeakerDiarizationSegment *SherpaOnnxOfflineSpeakerDiarizationResultSortByStartTime(const SherpaOnnxOfflineSpeakerDiarizationResult *r);
void SherpaOnnxOfflineSpeakerDiarizationDestroySegment(const SherpaOnnxOfflineSpeakerDiarizationSegment *s);
void SherpaOnnxOfflineSpeakerDiarizationDestroyResult(const SherpaOnnxOfflineSpeakerDiarizationResult *r);
const SherpaOnnxSpeakerEmbeddingExtractor *SherpaOnnxCreateSpeakerEmbeddingExtractor(const SherpaOnnxSpeakerEmbeddingExtractorConfig *config);
void SherpaOnnxDestroySpeakerEmbeddingExtractor(const SherpaOnnxSpeakerEmbeddingExtractor *p);
int32_t SherpaOnnxSpeakerEmbeddingExtractorDim(const SherpaOnnxSpeakerEmbeddingExtractor *p);
const SherpaOnnxOnlineStream *SherpaOnnxSpeakerEmbeddingExtractorCreateStream(const SherpaOnnxSpeakerEmbeddingExtractor *p);
int32_t SherpaOnnxSpeakerEmbeddingExtractorIsReady(const SherpaOnnxSpeakerEmbeddingExtractor *p, const SherpaOnnxOnlineStream *s);
const float *SherpaOnnxSpeakerEmbeddingExtractorComputeEmbedding(const SherpaOnnxSpeakerEmbeddingExtractor *p, const SherpaOnnxOnlineStream *s);
void SherpaOnnxSpeakerEmbeddingExtractorDestroyEmbedding(const float *v);
const SherpaOnnxSpeakerEmbeddingManager *SherpaOnnxCreateSpeakerEmbeddingManager(int32_t dim);
void SherpaOnnxDestroySpeakerEmbeddingManager(const SherpaOnnxSpeakerEmbeddingManager *p);
int32_t SherpaOnnxSpeakerEmbeddingManagerAddListFlattened(const SherpaOnnxSpeakerEmbeddingManager *p, const char *name, const float *v, int32_t n);
const char *SherpaOnnxSpeakerEmbeddingManagerSearch(const SherpaOnnxSpeakerEmbeddingManager *p, const float *v, float threshold);
void SherpaOnnxSpeakerEmbeddingManagerFreeSearch(const char *name);
const char *SherpaOnnxGetVersionStr(void);
const char *SherpaOnnxGetGitSha1(void);
const char *SherpaOnnxGetGitDate(void);

}  // extern "C"

// ---- Layout checks (x86-64 Linux, toolkit 1.13.4) ----
DICTACORE_ABI_OFFSET(SherpaOnnxFeatureConfig, sample_rate, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxFeatureConfig, feature_dim, 4);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineTransducerModelConfig, encoder, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineTransducerModelConfig, decoder, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineTransducerModelConfig, joiner, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineParaformerModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineNemoEncDecCtcModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineWhisperModelConfig, encoder, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineWhisperModelConfig, decoder, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineWhisperModelConfig, language, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineWhisperModelConfig, task, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineWhisperModelConfig, tail_paddings, 32);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineWhisperModelConfig, enable_token_timestamps, 36);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineWhisperModelConfig, enable_segment_timestamps, 40);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineTdnnModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSenseVoiceModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSenseVoiceModelConfig, language, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSenseVoiceModelConfig, use_itn, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineMoonshineModelConfig, preprocessor, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineMoonshineModelConfig, encoder, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineMoonshineModelConfig, uncached_decoder, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineMoonshineModelConfig, cached_decoder, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineMoonshineModelConfig, merged_decoder, 32);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFireRedAsrModelConfig, encoder, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFireRedAsrModelConfig, decoder, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineDolphinModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineZipformerCtcModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCanaryModelConfig, encoder, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCanaryModelConfig, decoder, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCanaryModelConfig, src_lang, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCanaryModelConfig, tgt_lang, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCanaryModelConfig, use_pnc, 32);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineWenetCtcModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineOmnilingualAsrCtcModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineMedAsrCtcModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, encoder_adaptor, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, llm, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, embedding, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, tokenizer, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, system_prompt, 32);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, user_prompt, 40);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, max_new_tokens, 48);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, temperature, 52);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, top_p, 56);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, seed, 60);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, language, 64);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, itn, 72);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFunASRNanoModelConfig, hotwords, 80);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineFireRedAsrCtcModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, conv_frontend, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, encoder, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, decoder, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, tokenizer, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, max_total_len, 32);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, max_new_tokens, 36);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, temperature, 40);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, top_p, 44);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, seed, 48);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineQwen3ASRModelConfig, hotwords, 56);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCohereTranscribeModelConfig, encoder, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCohereTranscribeModelConfig, decoder, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCohereTranscribeModelConfig, language, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCohereTranscribeModelConfig, use_punct, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineCohereTranscribeModelConfig, use_itn, 28);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, transducer, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, paraformer, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, nemo_ctc, 32);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, whisper, 40);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, tdnn, 88);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, tokens, 96);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, num_threads, 104);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, debug, 108);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, provider, 112);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, model_type, 120);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, modeling_unit, 128);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, bpe_vocab, 136);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, telespeech_ctc, 144);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, sense_voice, 152);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, moonshine, 176);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, fire_red_asr, 216);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, dolphin, 232);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, zipformer_ctc, 240);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, canary, 248);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, wenet_ctc, 288);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, omnilingual, 296);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, medasr, 304);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, funasr_nano, 312);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, fire_red_asr_ctc, 400);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, qwen3_asr, 408);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineModelConfig, cohere_transcribe, 472);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineLMConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineLMConfig, scale, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxHomophoneReplacerConfig, dict_dir, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxHomophoneReplacerConfig, lexicon, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxHomophoneReplacerConfig, rule_fsts, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, feat_config, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, model_config, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, lm_config, 512);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, decoding_method, 528);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, max_active_paths, 536);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, hotwords_file, 544);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, hotwords_score, 552);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, rule_fsts, 560);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, rule_fars, 568);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, blank_penalty, 576);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerConfig, hr, 584);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, text, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, timestamps, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, count, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, tokens, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, tokens_arr, 32);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, json, 40);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, lang, 48);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, emotion, 56);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, event, 64);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, durations, 72);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, ys_log_probs, 80);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, segment_timestamps, 88);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, segment_durations, 96);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, segment_texts, 104);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, segment_texts_arr, 112);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineRecognizerResult, segment_count, 120);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineTransducerModelConfig, encoder, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineTransducerModelConfig, decoder, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineTransducerModelConfig, joiner, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineParaformerModelConfig, encoder, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineParaformerModelConfig, decoder, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineZipformer2CtcModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineNemoCtcModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineToneCtcModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, transducer, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, paraformer, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, zipformer2_ctc, 40);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, tokens, 48);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, num_threads, 56);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, provider, 64);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, debug, 72);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, model_type, 80);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, modeling_unit, 88);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, bpe_vocab, 96);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, tokens_buf, 104);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, tokens_buf_size, 112);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, nemo_ctc, 120);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineModelConfig, t_one_ctc, 128);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineCtcFstDecoderConfig, graph, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineCtcFstDecoderConfig, max_active, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, feat_config, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, model_config, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, decoding_method, 144);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, max_active_paths, 152);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, enable_endpoint, 156);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, rule1_min_trailing_silence, 160);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, rule2_min_trailing_silence, 164);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, rule3_min_utterance_length, 168);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, hotwords_file, 176);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, hotwords_score, 184);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, ctc_fst_decoder_config, 192);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, rule_fsts, 208);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, rule_fars, 216);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, blank_penalty, 224);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, hotwords_buf, 232);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, hotwords_buf_size, 240);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerConfig, hr, 248);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerResult, text, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerResult, tokens, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerResult, tokens_arr, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerResult, timestamps, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerResult, count, 32);
DICTACORE_ABI_OFFSET(SherpaOnnxOnlineRecognizerResult, json, 40);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflinePunctuationModelConfig, ct_transformer, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflinePunctuationModelConfig, num_threads, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflinePunctuationModelConfig, debug, 12);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflinePunctuationModelConfig, provider, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflinePunctuationConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxSileroVadModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxSileroVadModelConfig, threshold, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxSileroVadModelConfig, min_silence_duration, 12);
DICTACORE_ABI_OFFSET(SherpaOnnxSileroVadModelConfig, min_speech_duration, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxSileroVadModelConfig, window_size, 20);
DICTACORE_ABI_OFFSET(SherpaOnnxSileroVadModelConfig, max_speech_duration, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxTenVadModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxTenVadModelConfig, threshold, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxTenVadModelConfig, min_silence_duration, 12);
DICTACORE_ABI_OFFSET(SherpaOnnxTenVadModelConfig, min_speech_duration, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxTenVadModelConfig, window_size, 20);
DICTACORE_ABI_OFFSET(SherpaOnnxTenVadModelConfig, max_speech_duration, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxVadModelConfig, silero_vad, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxVadModelConfig, sample_rate, 32);
DICTACORE_ABI_OFFSET(SherpaOnnxVadModelConfig, num_threads, 36);
DICTACORE_ABI_OFFSET(SherpaOnnxVadModelConfig, provider, 40);
DICTACORE_ABI_OFFSET(SherpaOnnxVadModelConfig, debug, 48);
DICTACORE_ABI_OFFSET(SherpaOnnxVadModelConfig, ten_vad, 56);
DICTACORE_ABI_OFFSET(SherpaOnnxSpeechSegment, start, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxSpeechSegment, samples, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxSpeechSegment, n, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerSegmentationPyannoteModelConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerSegmentationModelConfig, pyannote, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerSegmentationModelConfig, num_threads, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerSegmentationModelConfig, debug, 12);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerSegmentationModelConfig, provider, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxSpeakerEmbeddingExtractorConfig, model, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxSpeakerEmbeddingExtractorConfig, num_threads, 8);
DICTACORE_ABI_OFFSET(SherpaOnnxSpeakerEmbeddingExtractorConfig, debug, 12);
DICTACORE_ABI_OFFSET(SherpaOnnxSpeakerEmbeddingExtractorConfig, provider, 16);
DICTACORE_ABI_OFFSET(SherpaOnnxFastClusteringConfig, num_clusters, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxFastClusteringConfig, threshold, 4);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerDiarizationConfig, segmentation, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerDiarizationConfig, embedding, 24);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerDiarizationConfig, clustering, 48);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerDiarizationConfig, min_duration_on, 56);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerDiarizationConfig, min_duration_off, 60);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerDiarizationSegment, start, 0);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerDiarizationSegment, end, 4);
DICTACORE_ABI_OFFSET(SherpaOnnxOfflineSpeakerDiarizationSegment, speaker, 8);

#endif  // DICTACORE_ENGINE_BACKENDS_SHERPA_ONNX_C_API_H_
