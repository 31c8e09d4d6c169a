#include "addons/hotkeys/key_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace chordwatch {
namespace {

struct AliasCase {
  std::string result;
  std::vector<std::string> spellings;
};

TEST(NormalizeTokenTest, SidedAliasesIgnoreCaseSpacesDashesAndUnderscores) {
  const std::vector<AliasCase> cases = {
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
  for (const AliasCase& alias : cases) {
    for (const std::string& spelling : alias.spellings) {
      EXPECT_EQ(NormalizeToken(spelling), alias.result) << spelling;
      // Upper case with separators between the letters still matches.
      std::string decorated;
      for (size_t i = 0; i < spelling.size(); ++i) {
        if (i == 1) decorated += " -_";
        decorated += static_cast<char>(spelling[i] - 'a' + 'A');
      }
      EXPECT_EQ(NormalizeToken(decorated), alias.result) << decorated;
    }
  }
  EXPECT_EQ(NormalizeToken("Left Ctrl"), "LeftCtrl");
  EXPECT_EQ(NormalizeToken("left-ctrl"), "LeftCtrl");
  EXPECT_EQ(NormalizeToken("LEFT_CTRL"), "LeftCtrl");
  EXPECT_EQ(NormalizeToken("left option"), "LeftAlt");
}

TEST(NormalizeTokenTest, NamedKeysAndGenericModifiersIgnoreCaseOnly) {
  const std::vector<AliasCase> cases = {
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
  for (const AliasCase& alias : cases) {
    for (const std::string& spelling : alias.spellings) {
      EXPECT_EQ(NormalizeToken(spelling), alias.result) << spelling;
      std::string upper;
      for (char c : spelling) upper += static_cast<char>(c - 'a' + 'A');
      EXPECT_EQ(NormalizeToken(upper), alias.result) << upper;
    }
  }
  EXPECT_EQ(NormalizeToken(" \tReturn \r\n"), "Enter");
  EXPECT_EQ(NormalizeToken("META"), "Cmd");
  // Separators are removed only for the sided comparison.
  EXPECT_EQ(NormalizeToken("c-t-r-l"), "c-t-r-l");
  EXPECT_EQ(NormalizeToken("back space"), "back space");
  EXPECT_EQ(NormalizeToken("opt"), "opt");
}

TEST(NormalizeTokenTest, SingleCharactersFunctionKeysAndEverythingElse) {
  EXPECT_EQ(NormalizeToken("A"), "a");
  EXPECT_EQ(NormalizeToken(" 7 "), "7");
  EXPECT_EQ(NormalizeToken("F"), "f");
  EXPECT_EQ(NormalizeToken("f5"), "F5");
  EXPECT_EQ(NormalizeToken("F12"), "F12");
  EXPECT_EQ(NormalizeToken("f24"), "F24");
  EXPECT_EQ(NormalizeToken("F05"), "F05");  // leading zero kept
  EXPECT_EQ(NormalizeToken("f1a"), "f1a");
  EXPECT_EQ(NormalizeToken("key_115"), "key_115");
  EXPECT_EQ(NormalizeToken("KEY_115"), "KEY_115");
  EXPECT_EQ(NormalizeToken(" Home "), "Home");
  EXPECT_EQ(NormalizeToken("\xC3\xA9"), "\xC3\xA9");  // two bytes, kept
}

TEST(NormalizeTokenTest, BlankTokensAreEmpty) {
  EXPECT_EQ(NormalizeToken(""), "");
  EXPECT_EQ(NormalizeToken(" \t\n\v\f\r"), "");
}

TEST(TextHelpersTest, ToLowerAndIsDigits) {
  EXPECT_EQ(ToLower("AbC-Z_09\xC3\x89"), "abc-z_09\xC3\x89");
  EXPECT_TRUE(IsDigits("0123456789"));
  EXPECT_FALSE(IsDigits(""));
  EXPECT_FALSE(IsDigits("12a"));
  EXPECT_FALSE(IsDigits(" 1"));
}

TEST(ModifierOrderTest, FixedDisplayOrder) {
  EXPECT_EQ(ModifierOrder(),
            (std::vector<std::string>{"Fn", "Ctrl", "Option", "Shift", "Cmd"}));
  EXPECT_EQ(&ModifierOrder(), &ModifierOrder());
}

TEST(MacKeycodeTest, TableEntriesAndFallback) {
  const std::vector<std::pair<int, std::string>> table = {
      {55, "LeftMeta"}, {54, "RightMeta"}, {59, "LeftCtrl"},
      {62, "RightCtrl"}, {56, "LeftShift"}, {60, "RightShift"},
      {58, "LeftAlt"}, {61, "RightAlt"}, {63, "Fn"}, {49, "Space"},
      {36, "Enter"}, {48, "Tab"}, {51, "Backspace"}, {53, "Esc"},
      {117, "Delete"}, {0, "a"}, {1, "s"}, {2, "d"}, {3, "f"}, {4, "h"},
      {5, "g"}, {6, "z"}, {7, "x"}, {8, "c"}, {9, "v"}, {11, "b"},
      {12, "q"}, {13, "w"}, {14, "e"}, {15, "r"}, {16, "y"}, {17, "t"},
      {31, "o"}, {32, "u"}, {34, "i"}, {35, "p"}, {37, "l"}, {38, "j"},
      {40, "k"}, {45, "n"}, {46, "m"}, {18, "1"}, {19, "2"}, {20, "3"},
      {21, "4"}, {23, "5"}, {22, "6"}, {26, "7"}, {28, "8"}, {25, "9"},
      {29, "0"}, {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"},
      {96, "F5"}, {97, "F6"}, {98, "F7"}, {100, "F8"}, {101, "F9"},
      {109, "F10"}, {103, "F11"}, {111, "F12"},
  };
  EXPECT_EQ(kMacKeycodeMap.size(), table.size());
  std::set<std::string> names;
  for (const auto& entry : table) {
    EXPECT_EQ(MacKeycodeToName(entry.first), entry.second) << entry.first;
    int keycode = -1;
    EXPECT_TRUE(MacKeycodeForName(entry.second, &keycode)) << entry.second;
    EXPECT_EQ(keycode, entry.first);
    names.insert(entry.second);
  }
  EXPECT_EQ(names.size(), table.size());  // no name twice

  EXPECT_EQ(MacKeycodeToName(57), "key_57");  // Caps Lock has no entry
  EXPECT_EQ(MacKeycodeToName(10), "key_10");
  EXPECT_EQ(MacKeycodeToName(127), "key_127");
  int keycode = -1;
  EXPECT_FALSE(MacKeycodeForName("key_115", &keycode));
  EXPECT_FALSE(MacKeycodeForName("Ctrl", &keycode));
  EXPECT_FALSE(MacKeycodeForName("A", &keycode));
}

TEST(MacFlagsTest, ModifiersFromFlagBits) {
  EXPECT_EQ(MacModifiersFromFlags(0), KeySet());
  EXPECT_EQ(MacModifiersFromFlags(0x20000), KeySet({"Shift"}));
  EXPECT_EQ(MacModifiersFromFlags(0x40000), KeySet({"Ctrl"}));
  EXPECT_EQ(MacModifiersFromFlags(0x80000), KeySet({"Option"}));
  EXPECT_EQ(MacModifiersFromFlags(0x100000), KeySet({"Cmd"}));
  EXPECT_EQ(MacModifiersFromFlags(0x800000), KeySet({"Fn"}));
  EXPECT_EQ(MacModifiersFromFlags(0x120000), KeySet({"Cmd", "Shift"}));
  // Neighbouring bits (Caps Lock 16, Help 22, device bits) mean nothing.
  EXPECT_EQ(MacModifiersFromFlags(0x10000 | 0x200000 | 0x400000 | 0x1FF),
            KeySet());
  EXPECT_EQ(MacModifiersFromFlags(0xFFFFFFFFFFFFFFFFull),
            KeySet({"Shift", "Ctrl", "Option", "Cmd", "Fn"}));
}

TEST(MacFlagsTest, SidedNamesTestTheirGenericBit) {
  const std::vector<std::pair<uint64_t, std::vector<std::string>>> bits = {
      {0x20000, {"LeftShift", "RightShift", "Shift"}},
      {0x40000, {"LeftCtrl", "RightCtrl", "Ctrl"}},
      {0x80000, {"LeftAlt", "RightAlt", "Option"}},
      {0x100000, {"LeftMeta", "RightMeta", "Cmd"}},
      {0x800000, {"Fn"}},
  };
  for (const auto& bit : bits) {
    for (const auto& other : bits) {
      for (const std::string& name : other.second) {
        EXPECT_EQ(MacFlagIncludesModifier(bit.first, name), &bit == &other)
            << name << " against " << bit.first;
      }
    }
  }
  EXPECT_FALSE(MacFlagIncludesModifier(0xFFFFFF, "a"));
  EXPECT_FALSE(MacFlagIncludesModifier(0xFFFFFF, "ctrl"));
  EXPECT_FALSE(MacFlagIncludesModifier(0xFFFFFF, "key_57"));
}

TEST(MacModifierNamesTest, SidedAndGenericNames) {
  const std::vector<std::string> sided = {
      "LeftCtrl", "RightCtrl", "LeftAlt",  "RightAlt",
      "LeftShift", "RightShift", "LeftMeta", "RightMeta"};
  for (const std::string& name : sided) {
    EXPECT_TRUE(MacIsSidedModifierName(name)) << name;
    EXPECT_TRUE(MacIsModifierName(name)) << name;
  }
  for (const std::string& name : ModifierOrder()) {
    EXPECT_FALSE(MacIsSidedModifierName(name)) << name;
    EXPECT_TRUE(MacIsModifierName(name)) << name;
  }
  for (const char* name :
       {"key_57", "ctrl", "Space", "a", "LeftCtrl ", "Meta", "Alt", ""}) {
    EXPECT_FALSE(MacIsModifierName(name)) << name;
    EXPECT_FALSE(MacIsSidedModifierName(name)) << name;
  }
}

ParsedCombo Parse(const std::string& text) {
  ParsedCombo parsed;
  EXPECT_TRUE(ParseCombo(text, &parsed)) << text;
  return parsed;
}

TEST(ParseComboTest, CanonicalStringOrdersModifiersThenSortsTheRest) {
  EXPECT_EQ(Parse("shift+cmd+k").combo, "Shift+Cmd+k");
  EXPECT_EQ(Parse("a+LeftCtrl").combo, "LeftCtrl+a");
  EXPECT_EQ(Parse("space+fn+ctrl").combo, "Fn+Ctrl+Space");
  EXPECT_EQ(Parse("cmd+shift+option+ctrl+fn").combo,
            "Fn+Ctrl+Option+Shift+Cmd");
  EXPECT_EQ(Parse("z+RightShift+Cmd+1+F2+Enter").combo,
            "Cmd+1+Enter+F2+RightShift+z");
  EXPECT_EQ(Parse("ctrl+shift+a").keys, KeySet({"Ctrl", "Shift", "a"}));
}

TEST(ParseComboTest, RepeatedNamesCountOnceAndBlankPiecesAreDropped) {
  const ParsedCombo parsed = Parse("ctrl+Control+ + ctrl +");
  EXPECT_EQ(parsed.keys, KeySet({"Ctrl"}));
  EXPECT_EQ(parsed.combo, "Ctrl");
  EXPECT_EQ(Parse("+a").combo, "a");
  EXPECT_EQ(Parse(" Left Ctrl + Right Ctrl ").combo, "LeftCtrl+RightCtrl");
  EXPECT_EQ(Parse("Home+key_115").combo, "Home+key_115");
}

TEST(ParseComboTest, NothingButSeparatorsOrBlanksIsEmpty) {
  for (const char* text : {"", "+", "+++", "   ", " + \t+ "}) {
    ParsedCombo parsed;
    parsed.combo = "stale";
    EXPECT_FALSE(ParseCombo(text, &parsed)) << "'" << text << "'";
    EXPECT_TRUE(parsed.keys.empty());
    EXPECT_TRUE(parsed.combo.empty());
  }
}

}  // namespace
}  // namespace chordwatch
