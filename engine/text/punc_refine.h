// Re-punctuation of recognised text: existing marks are stripped and the
// punctuation model puts marks back. None of these fail; when punctuation
// cannot be applied the text passes through and the reason is logged.
#ifndef DICTACORE_ENGINE_TEXT_PUNC_REFINE_H_
#define DICTACORE_ENGINE_TEXT_PUNC_REFINE_H_

#include <string>

#include "engine/backends/punc_backend.h"
#include "engine/cli/event_emitter.h"

namespace dictacore {

// Punctuates one finished text. Text made only of punctuation becomes empty
// (with a ready backend).
std::string RefineTextWithPunc(PuncBackend* punc, EventEmitter* emitter, const std::string& text);

// As RefineTextWithPunc, then ensures (final) or removes (not final) the
// sentence-final mark.
std::string RefineRealtimeTextWithPunc(PuncBackend* punc, EventEmitter* emitter,
                                       const std::string& text, bool final);

// Punctuates a new piece of a running transcript with the tail of the
// previous pieces as context, and returns only the new piece (led by any mark
// the model put at the junction). `context` (may be null) is updated to the
// last `context_chars` characters of this piece's plain text.
std::string ApplyRealtimePunc(PuncBackend* punc, EventEmitter* emitter, const std::string& text,
                              std::string* context, int context_chars, bool final);

// Punctuates a first-pass partial text and emits it as a `punctuated` event.
void EmitPunctuatedForPartial(PuncBackend* punc, EventEmitter* emitter, int segment_id,
                              const std::string& text, int session_id);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_TEXT_PUNC_REFINE_H_
