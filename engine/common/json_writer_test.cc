#include "engine/common/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace dictacore {
namespace {

TEST(JsonWriter, CommasBetweenMembersAndElementsAtEveryDepth) {
  JsonWriter json;
  json.BeginObject()
      .String("a", "x")
      .Key("list")
      .BeginArray()
      .BeginObject()
      .Int("n", 1)
      .EndObject()
      .BeginObject()
      .EndObject()
      .String("s")
      .BeginArray()
      .EndArray()
      .EndArray()
      .Bool("yes", true)
      .Bool("no", false)
      .EndObject();
  EXPECT_EQ(json.text(), R"({"a":"x","list":[{"n":1},{},"s",[]],"yes":true,"no":false})");
  EXPECT_EQ(json.Take(), R"({"a":"x","list":[{"n":1},{},"s",[]],"yes":true,"no":false})");
  EXPECT_EQ(json.text(), "");
}

TEST(JsonWriter, IntegersInPlainDecimal) {
  JsonWriter json;
  json.BeginArray()
      .Int(0)
      .Int(-42)
      .Int(std::numeric_limits<int64_t>::max())
      .Int(std::numeric_limits<int64_t>::min())
      .EndArray();
  EXPECT_EQ(json.text(), "[0,-42,9223372036854775807,-9223372036854775808]");
}

TEST(JsonWriter, FixedDecimalsAndNoNonFiniteNumbers) {
  JsonWriter json;
  json.BeginArray()
      .Fixed(1.5, 2)
      .Fixed(2.125, 3)
      .Fixed(-0.004, 2)
      .Fixed(std::ldexp(1.0, 200), 0)
      .Fixed(std::numeric_limits<double>::quiet_NaN(), 2)
      .Fixed(-std::numeric_limits<double>::infinity(), 3)
      .EndArray();
  EXPECT_EQ(json.text(),
            "[1.50,2.125,-0.00,"
            "1606938044258990275541962092341162602522202993782792835301376,0.00,0.000]");
}

TEST(JsonWriter, KeysAreEscapedLikeValues) {
  JsonWriter json;
  json.BeginObject().String("say \"hi\"\n", "a\\b").EndObject();
  EXPECT_EQ(json.text(), R"({"say \"hi\"\n":"a\\b"})");
}

TEST(JsonWriter, QuotesOnlyEscapingLeavesControlBytesRaw) {
  JsonWriter json(JsonEscaping::kQuotesOnly);
  json.BeginObject().String("p", "a\"b\\c\t\n\x01\xC3\xA9").EndObject();
  EXPECT_EQ(json.text(), "{\"p\":\"a\\\"b\\\\c\t\n\x01\xC3\xA9\"}");
}

TEST(AppendJsonEscaped, KeepsWhatIsAlreadyThereAndTheBytesAroundEscapes) {
  std::string out = "<";
  AppendJsonEscaped(std::string("ab\0cd\x1f"
                                "ef",
                                8),
                    JsonEscaping::kControlBytes, &out);
  EXPECT_EQ(out, "<ab\\u0000cd\\u001fef");
}

}  // namespace
}  // namespace dictacore
