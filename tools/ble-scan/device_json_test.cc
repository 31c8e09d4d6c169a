#include "tools/ble-scan/device_json.h"

#include <gtest/gtest.h>

#include <string>

namespace beaconsweep {
namespace {

std::string Encode(const std::string& name) {
  std::string json;
  EXPECT_TRUE(EncodeScannedDevice({"ID", name, {"180D"}}, &json)) << name;
  return json;
}

TEST(EncodeScannedDeviceTest, CompactKeysInDeclarationOrder) {
  std::string json;
  ASSERT_TRUE(EncodeScannedDevice(
      {"6E400001-B5A3-F393-E0A9-E50E24DCCA9E", "Polar H10 A1B2", {"180D"}}, &json));
  EXPECT_EQ(json,
            "{\"id\":\"6E400001-B5A3-F393-E0A9-E50E24DCCA9E\",\"name\":\"Polar H10 A1B2\","
            "\"serviceUuids\":[\"180D\"]}");
  EXPECT_EQ(Encode(""), "{\"id\":\"ID\",\"name\":\"\",\"serviceUuids\":[\"180D\"]}");
}

TEST(EncodeScannedDeviceTest, EscapesLikeThePlatformEncoder) {
  const std::string head = "{\"id\":\"ID\",\"name\":\"";
  const std::string tail = "\",\"serviceUuids\":[\"180D\"]}";
  EXPECT_EQ(Encode("a\"b\\c/d"), head + "a\\\"b\\\\c\\/d" + tail);
  EXPECT_EQ(Encode("\b\f\n\r\t"), head + "\\b\\f\\n\\r\\t" + tail);
  EXPECT_EQ(Encode(std::string("\x00\x01\x0b\x0e\x1a\x1f", 6)),
            head + "\\u0000\\u0001\\u000b\\u000e\\u001a\\u001f" + tail);
  // DEL, non-ASCII letters, symbols outside the BMP and the line separators
  // are all written raw.
  const std::string raw = "\x7f" "Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x98\x80 \xE2\x80\xA8\xE2\x80\xA9";
  EXPECT_EQ(Encode(raw), head + raw + tail);
  EXPECT_EQ(Encode(" !#$%&'()*+,-.:;<=>?@[]^_`{|}~"),
            head + " !#$%&'()*+,-.:;<=>?@[]^_`{|}~" + tail);
}

TEST(EncodeScannedDeviceTest, EveryListElementAndTheIdAreEscapedToo) {
  std::string json;
  ASSERT_TRUE(EncodeScannedDevice({"a/b", "n", {"1/2", "3\"4"}}, &json));
  EXPECT_EQ(json, "{\"id\":\"a\\/b\",\"name\":\"n\",\"serviceUuids\":[\"1\\/2\",\"3\\\"4\"]}");
}

TEST(EncodeScannedDeviceTest, FailsOnTextThatIsNotUtf8) {
  for (const std::string& bad : {std::string("\xFF"), std::string("ab\xC3"),     // truncated
                                std::string("\xC0\xAF"),                       // overlong
                                std::string("\xE0\x80\xAF"),                   // overlong
                                std::string("\xED\xA0\x80"),                   // lone surrogate
                                std::string("\xF4\x90\x80\x80"),               // > U+10FFFF
                                std::string("\xF5\x80\x80\x80"),
                                std::string("\x80"), std::string("\xE2\x98")}) {
    std::string json = "stale";
    EXPECT_FALSE(EncodeScannedDevice({"ID", "ok" + bad, {"180D"}}, &json));
    EXPECT_TRUE(json.empty());
    EXPECT_FALSE(EncodeScannedDevice({bad, "", {"180D"}}, &json));
    EXPECT_FALSE(EncodeScannedDevice({"ID", "", {bad}}, &json));
  }
  // The largest code point and the last one before the surrogates are fine.
  const std::string edge = "\xF4\x8F\xBF\xBF\xED\x9F\xBF";
  EXPECT_EQ(Encode(edge), "{\"id\":\"ID\",\"name\":\"" + edge + "\",\"serviceUuids\":[\"180D\"]}");
}

}  // namespace
}  // namespace beaconsweep
