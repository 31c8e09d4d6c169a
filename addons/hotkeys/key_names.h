// Key names shared by both sides of the matching: the combinations script code
// registers and the key events the platform delivers. Everything here is a pure
// function of its inputs.
#ifndef ADDONS_HOTKEYS_KEY_NAMES_H_
#define ADDONS_HOTKEYS_KEY_NAMES_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace chordwatch {

using KeySet = std::unordered_set<std::string>;

// Virtual key code of the Fn key; its physical state decides whether an Fn
// flag on another key's event counts.
constexpr int kFnKeycode = 63;

// Virtual key code to canonical name for the keys that have one. Built when
// the module is loaded and never destroyed, so a watcher thread still running
// while the process exits cannot see it torn down.
extern const std::unordered_map<int, std::string>& kMacKeycodeMap;

// Byte-wise lower case (ASCII letters only).
std::string ToLower(const std::string& text);

// True when text is not empty and every byte is a decimal digit.
bool IsDigits(const std::string& text);

// Display order of the generic modifiers: Fn, Ctrl, Option, Shift, Cmd.
const std::vector<std::string>& ModifierOrder();

// Canonical name of one user-written token; empty when the token is blank.
std::string NormalizeToken(const std::string& token);

// The table entry for keycode, or "key_" and the keycode in decimal.
std::string MacKeycodeToName(int keycode);

// Generic modifier names whose bit is set in a platform flag word.
KeySet MacModifiersFromFlags(uint64_t flags);

// Whether flags has the bit that name tests; false for names without a bit.
bool MacFlagIncludesModifier(uint64_t flags, const std::string& name);

bool MacIsSidedModifierName(const std::string& name);
// The five generic and the eight sided modifier names.
bool MacIsModifierName(const std::string& name);

// Keycode whose table entry is name; false when no entry has that name.
bool MacKeycodeForName(const std::string& name, int* keycode);

// A combination string read as a set of key names plus its display form.
struct ParsedCombo {
  KeySet keys;
  std::string combo;  // generic modifiers in display order, then the rest sorted
};

// Splits text at every "+" and normalises each piece. Returns false (and
// leaves *parsed empty) when no key name remains.
bool ParseCombo(const std::string& text, ParsedCombo* parsed);

}  // namespace chordwatch

#endif  // ADDONS_HOTKEYS_KEY_NAMES_H_
