// Hotkey combination strings as script code passes them to register():
// ParseCombo over arbitrary bytes. The key set holds exactly the normalised
// non-blank pieces, normalisation is idempotent, and the display string lists
// the generic modifiers in their fixed order, then the other names sorted,
// and parses back to the same set and the same string.
#include <algorithm>
#include <string>
#include <vector>

#include "addons/hotkeys/key_names.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using chordwatch::KeySet;
using chordwatch::ParsedCombo;

std::vector<std::string> SplitAtPlus(const std::string& text) {
  std::vector<std::string> pieces(1);
  for (char ch : text) {
    if (ch == '+') {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(ch);
    }
  }
  return pieces;
}

bool IsBlank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  KeySet names;
  for (const std::string& piece : SplitAtPlus(text)) {
    const std::string name = chordwatch::NormalizeToken(piece);
    FUZZ_CHECK(chordwatch::NormalizeToken(name) == name);
    if (name.empty()) continue;
    FUZZ_CHECK(!IsBlank(name.front()) && !IsBlank(name.back()));
    FUZZ_CHECK(name.find('+') == std::string::npos);
    FUZZ_CHECK(!chordwatch::MacIsSidedModifierName(name) || chordwatch::MacIsModifierName(name));
    int keycode = -1;
    if (chordwatch::MacKeycodeForName(name, &keycode)) {
      FUZZ_CHECK(chordwatch::MacKeycodeToName(keycode) == name);
    }
    names.insert(name);
  }

  ParsedCombo parsed;
  parsed.combo = "stale";
  const bool ok = chordwatch::ParseCombo(text, &parsed);
  FUZZ_CHECK(ok == !names.empty());
  FUZZ_CHECK(parsed.keys == names);
  if (!ok) {
    FUZZ_CHECK(parsed.combo.empty());
    return 0;
  }

  const std::vector<std::string> parts = SplitAtPlus(parsed.combo);
  FUZZ_CHECK(parts.size() == names.size());
  const std::vector<std::string>& order = chordwatch::ModifierOrder();
  size_t i = 0;
  for (const std::string& modifier : order) {
    if (names.count(modifier) != 0) FUZZ_CHECK(parts[i++] == modifier);
  }
  for (size_t j = i; j < parts.size(); ++j) {
    FUZZ_CHECK(names.count(parts[j]) != 0);
    FUZZ_CHECK(std::find(order.begin(), order.end(), parts[j]) == order.end());
    FUZZ_CHECK(j == i || parts[j - 1] < parts[j]);
  }

  ParsedCombo again;
  FUZZ_CHECK(chordwatch::ParseCombo(parsed.combo, &again));
  FUZZ_CHECK(again.keys == parsed.keys && again.combo == parsed.combo);
  return 0;
}
