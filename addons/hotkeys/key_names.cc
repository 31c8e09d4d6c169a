#include "addons/hotkeys/key_names.h"

#include <algorithm>
#include <cstddef>

namespace chordwatch {

const std::unordered_map<int, std::string>& kMacKeycodeMap =
    *new std::unordered_map<int, std::string>{
        {55, "LeftMeta"}, {54, "RightMeta"}, {59, "LeftCtrl"},
        {62, "RightCtrl"}, {56, "LeftShift"}, {60, "RightShift"},
        {58, "LeftAlt"}, {61, "RightAlt"}, {63, "Fn"},
        {49, "Space"}, {36, "Enter"}, {48, "Tab"},
        {51, "Backspace"}, {53, "Esc"}, {117, "Delete"},
        {0, "a"}, {1, "s"}, {2, "d"}, {3, "f"}, {4, "h"}, {5, "g"},
        {6, "z"}, {7, "x"}, {8, "c"}, {9, "v"}, {11, "b"}, {12, "q"},
        {13, "w"}, {14, "e"}, {15, "r"}, {16, "y"}, {17, "t"}, {31, "o"},
        {32, "u"}, {34, "i"}, {35, "p"}, {37, "l"}, {38, "j"}, {40, "k"},
        {45, "n"}, {46, "m"},
        {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {23, "5"}, {22, "6"},
        {26, "7"}, {28, "8"}, {25, "9"}, {29, "0"},
        {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"}, {96, "F5"},
        {97, "F6"}, {98, "F7"}, {100, "F8"}, {101, "F9"}, {109, "F10"},
        {103, "F11"}, {111, "F12"},
    };

namespace {

struct AliasRow {
  const char* result;
  std::vector<std::string> spellings;
};

// Compared against the token with case folded and spaces, "-" and "_" removed.
const std::vector<AliasRow>& SidedAliases() {
  static const std::vector<AliasRow>& rows = *new std::vector<AliasRow>{
      {"LeftCtrl",
       {"leftctrl", "lctrl", "leftcontrol", "lcontrol", "ctrlleft",
        "controlleft"}},
      {"RightCtrl",
       {"rightctrl", "rctrl", "rightcontrol", "rcontrol", "ctrlright",
        "controlright"}},
      {"LeftAlt",
       {"leftalt", "lalt", "leftoption", "loption", "altleft", "optionleft"}},
      {"RightAlt",
       {"rightalt", "ralt", "rightoption", "roption", "altright",
        "optionright"}},
      {"LeftShift", {"leftshift", "lshift", "shiftleft"}},
      {"RightShift", {"rightshift", "rshift", "shiftright"}},
      {"LeftMeta",
       {"leftmeta", "lmeta", "leftcmd", "lcmd", "leftcommand", "lcommand",
        "metaleft", "cmdleft", "commandleft", "leftwin", "lwin", "winleft",
        "leftwindows", "windowsleft"}},
      {"RightMeta",
       {"rightmeta", "rmeta", "rightcmd", "rcmd", "rightcommand", "rcommand",
        "metaright", "cmdright", "commandright", "rightwin", "rwin",
        "winright", "rightwindows", "windowsright"}},
  };
  return rows;
}

// Compared against the token with case folded, separators kept.
const std::vector<AliasRow>& NamedAliases() {
  static const std::vector<AliasRow>& rows = *new std::vector<AliasRow>{
      {"Space", {"space"}},
      {"Esc", {"esc", "escape"}},
      {"Enter", {"enter", "return"}},
      {"Tab", {"tab"}},
      {"Backspace", {"backspace"}},
      {"Delete", {"delete", "del"}},
      {"Fn", {"fn"}},
      {"Ctrl", {"ctrl", "control"}},
      {"Shift", {"shift"}},
      {"Cmd", {"cmd", "command", "meta", "win", "windows"}},
      {"Option", {"alt", "option"}},
  };
  return rows;
}

const char* LookUpAlias(const std::vector<AliasRow>& rows,
                        const std::string& spelling) {
  for (const AliasRow& row : rows) {
    if (std::find(row.spellings.begin(), row.spellings.end(), spelling) !=
        row.spellings.end()) {
      return row.result;
    }
  }
  return nullptr;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

struct ModifierBit {
  const char* generic;
  uint64_t mask;
};

// The flag word does not tell left from right: both sides test the bit of
// their generic name.
constexpr ModifierBit kModifierBits[] = {
    {"Shift", 0x20000},   // bit 17
    {"Ctrl", 0x40000},    // bit 18
    {"Option", 0x80000},  // bit 19
    {"Cmd", 0x100000},    // bit 20
    {"Fn", 0x800000},     // bit 23
};

// Generic name whose bit a modifier name tests, or nullptr.
const char* GenericModifierFor(const std::string& name) {
  static const std::unordered_map<std::string, std::string>& generic =
      *new std::unordered_map<std::string, std::string>{
          {"Shift", "Shift"},     {"LeftShift", "Shift"},
          {"RightShift", "Shift"}, {"Ctrl", "Ctrl"},
          {"LeftCtrl", "Ctrl"},   {"RightCtrl", "Ctrl"},
          {"Option", "Option"},   {"LeftAlt", "Option"},
          {"RightAlt", "Option"}, {"Cmd", "Cmd"},
          {"LeftMeta", "Cmd"},    {"RightMeta", "Cmd"},
          {"Fn", "Fn"},
      };
  auto it = generic.find(name);
  return it == generic.end() ? nullptr : it->second.c_str();
}

}  // namespace

std::string ToLower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool IsDigits(const std::string& text) {
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

const std::vector<std::string>& ModifierOrder() {
  static const std::vector<std::string>& order = *new std::vector<std::string>{
      "Fn", "Ctrl", "Option", "Shift", "Cmd"};
  return order;
}

std::string NormalizeToken(const std::string& token) {
  const std::string trimmed = Trim(token);
  if (trimmed.empty()) return std::string();

  const std::string lower = ToLower(trimmed);
  std::string compact;
  for (char c : lower) {
    if (c != ' ' && c != '-' && c != '_') compact.push_back(c);
  }
  if (const char* sided = LookUpAlias(SidedAliases(), compact)) return sided;
  if (const char* named = LookUpAlias(NamedAliases(), lower)) return named;

  if (trimmed.size() == 1) return lower;
  if (lower.size() >= 2 && lower[0] == 'f' && IsDigits(lower.substr(1))) {
    return "F" + lower.substr(1);
  }
  return trimmed;
}

std::string MacKeycodeToName(int keycode) {
  auto it = kMacKeycodeMap.find(keycode);
  if (it != kMacKeycodeMap.end()) return it->second;
  return "key_" + std::to_string(keycode);
}

KeySet MacModifiersFromFlags(uint64_t flags) {
  KeySet names;
  for (const ModifierBit& bit : kModifierBits) {
    if ((flags & bit.mask) != 0) names.insert(bit.generic);
  }
  return names;
}

bool MacFlagIncludesModifier(uint64_t flags, const std::string& name) {
  const char* generic = GenericModifierFor(name);
  if (generic == nullptr) return false;
  for (const ModifierBit& bit : kModifierBits) {
    if (std::string(generic) == bit.generic) return (flags & bit.mask) != 0;
  }
  return false;
}

bool MacIsSidedModifierName(const std::string& name) {
  const char* generic = GenericModifierFor(name);
  return generic != nullptr && name != generic;
}

bool MacIsModifierName(const std::string& name) {
  return GenericModifierFor(name) != nullptr;
}

bool MacKeycodeForName(const std::string& name, int* keycode) {
  for (const auto& entry : kMacKeycodeMap) {
    if (entry.second == name) {
      *keycode = entry.first;
      return true;
    }
  }
  return false;
}

bool ParseCombo(const std::string& text, ParsedCombo* parsed) {
  *parsed = ParsedCombo();
  size_t begin = 0;
  while (true) {
    const size_t plus = text.find('+', begin);
    const size_t end = plus == std::string::npos ? text.size() : plus;
    std::string name = NormalizeToken(text.substr(begin, end - begin));
    if (!name.empty()) parsed->keys.insert(std::move(name));
    if (plus == std::string::npos) break;
    begin = plus + 1;
  }
  if (parsed->keys.empty()) return false;

  std::vector<std::string> parts;
  for (const std::string& modifier : ModifierOrder()) {
    if (parsed->keys.count(modifier) != 0) parts.push_back(modifier);
  }
  std::vector<std::string> others;
  for (const std::string& name : parsed->keys) {
    if (std::find(ModifierOrder().begin(), ModifierOrder().end(), name) ==
        ModifierOrder().end()) {
      others.push_back(name);
    }
  }
  std::sort(others.begin(), others.end());
  parts.insert(parts.end(), others.begin(), others.end());

  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) parsed->combo += '+';
    parsed->combo += parts[i];
  }
  return true;
}

}  // namespace chordwatch
