#include "engine/text/punc_refine.h"

#include "engine/text/utf8_punct.h"

namespace dictacore {
namespace {

bool Usable(PuncBackend* punc) { return punc != nullptr && punc->IsReady(); }

}  // namespace

std::string RefineTextWithPunc(PuncBackend* punc, EventEmitter* emitter, const std::string& text) {
  if (!Usable(punc) || text.empty()) return text;
  const std::string plain = StripPuncForPuncModel(text);
  if (plain.empty()) return std::string();
  std::string punctuated;
  std::string error;
  if (punc->AddPunctuation(plain, &punctuated, &error)) return punctuated;
  if (emitter != nullptr) emitter->EmitLog("Punctuation refine failed: " + error);
  return text;
}

std::string RefineRealtimeTextWithPunc(PuncBackend* punc, EventEmitter* emitter,
                                       const std::string& text, bool final) {
  const std::string refined = RefineTextWithPunc(punc, emitter, text);
  return final ? EnsureTerminalPunc(refined) : StripTerminalPunc(refined);
}

std::string ApplyRealtimePunc(PuncBackend* punc, EventEmitter* emitter, const std::string& text,
                              std::string* context, int context_chars, bool final) {
  if (!Usable(punc) || text.empty()) return text;
  const std::string plain = StripPuncForPuncModel(text);
  if (plain.empty()) return text;
  const std::string previous = context != nullptr ? *context : std::string();

  std::string punctuated;
  std::string error;
  if (!punc->AddPunctuation(previous + plain, &punctuated, &error)) {
    if (emitter != nullptr) emitter->EmitLog("Punctuation refine failed: " + error);
    return text;
  }

  std::string result = previous.empty() ? punctuated : ExtractTailByPlain(punctuated, plain, text);
  result = final ? EnsureTerminalPunc(result) : StripTerminalPunc(result);
  if (context != nullptr) {
    *context = context_chars <= 0 ? std::string() : Utf8SuffixByCodepoints(plain, context_chars);
  }
  return result;
}

void EmitPunctuatedForPartial(PuncBackend* punc, EventEmitter* emitter, int segment_id,
                              const std::string& text, int session_id) {
  if (!Usable(punc) || emitter == nullptr || text.empty()) return;
  std::string punctuated;
  std::string error;
  if (!punc->AddPunctuation(text, &punctuated, &error)) {
    emitter->EmitLog("Punc failed (seg=" + std::to_string(segment_id) + "): " + error);
    return;
  }
  if (HasContentText(punctuated)) {
    emitter->EmitRawJson(BuildPunctuatedEventJson(segment_id, punctuated, session_id));
  }
}

}  // namespace dictacore
