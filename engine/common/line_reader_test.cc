#include "engine/common/line_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>

#include "engine/common/strings.h"

namespace dictacore {
namespace {

// `count` bytes of 'a' without a line feed, then "\nafter\n", made up as they
// are read: the test itself never holds the long line.
class EndlessLineBuffer : public std::streambuf {
 public:
  explicit EndlessLineBuffer(size_t count) : left_(count) {}

 protected:
  int_type underflow() override {
    if (left_ > 0) {
      const size_t n = left_ < sizeof(block_) ? left_ : sizeof(block_);
      std::string(n, 'a').copy(block_, n);
      left_ -= n;
      setg(block_, block_, block_ + n);
      return traits_type::to_int_type(block_[0]);
    }
    if (!tail_done_) {
      tail_done_ = true;
      static const char kTail[] = "\nafter\n";
      std::string(kTail).copy(block_, sizeof(kTail) - 1);
      setg(block_, block_, block_ + sizeof(kTail) - 1);
      return traits_type::to_int_type(block_[0]);
    }
    return traits_type::eof();
  }

 private:
  size_t left_;
  bool tail_done_ = false;
  char block_[65536];
};

TEST(ReadBoundedLine, LinesAsGetlineReadsThem) {
  std::istringstream in(std::string("start\n\nstop\r\nx\0y\nlast", 21));
  std::string line;
  size_t length = 99;
  EXPECT_EQ(ReadBoundedLine(in, 64, &line, &length), LineStatus::kLine);
  EXPECT_EQ(line, "start");
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(ReadBoundedLine(in, 64, &line), LineStatus::kLine);
  EXPECT_EQ(line, "");
  EXPECT_EQ(ReadBoundedLine(in, 64, &line), LineStatus::kLine);
  EXPECT_EQ(line, "stop\r");
  EXPECT_EQ(ReadBoundedLine(in, 64, &line), LineStatus::kLine);
  EXPECT_EQ(line, std::string("x\0y", 3));
  // The last line has no line feed and still counts.
  EXPECT_EQ(ReadBoundedLine(in, 64, &line, &length), LineStatus::kLine);
  EXPECT_EQ(line, "last");
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(ReadBoundedLine(in, 64, &line, &length), LineStatus::kEnd);
  EXPECT_EQ(line, "");
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(ReadBoundedLine(in, 64, &line), LineStatus::kEnd);
}

TEST(ReadBoundedLine, LimitIsInclusiveAndTheRestOfALongLineIsSkipped) {
  std::istringstream in("12345\n123456\nnext\n1234567");
  std::string line;
  size_t length = 0;
  EXPECT_EQ(ReadBoundedLine(in, 5, &line, &length), LineStatus::kLine);
  EXPECT_EQ(line, "12345");
  EXPECT_EQ(ReadBoundedLine(in, 5, &line, &length), LineStatus::kTooLong);
  EXPECT_EQ(line, "12345");
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(ReadBoundedLine(in, 5, &line, &length), LineStatus::kLine);
  EXPECT_EQ(line, "next");
  // Too long at the very end of the input, without a line feed.
  EXPECT_EQ(ReadBoundedLine(in, 5, &line, &length), LineStatus::kTooLong);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(ReadBoundedLine(in, 5, &line, &length), LineStatus::kEnd);
}

TEST(ReadBoundedLine, EndlessLineKeepsOnlyTheLimit) {
  constexpr size_t kLong = size_t{256} << 20;  // 256 MiB that nobody stores
  EndlessLineBuffer buffer(kLong);
  std::istream in(&buffer);
  std::string line;
  size_t length = 0;
  ASSERT_EQ(ReadBoundedLine(in, 4096, &line, &length), LineStatus::kTooLong);
  EXPECT_EQ(length, kLong);
  EXPECT_EQ(line, std::string(4096, 'a'));
  EXPECT_LT(line.capacity(), size_t{8192});
  EXPECT_EQ(ReadBoundedLine(in, 4096, &line), LineStatus::kLine);
  EXPECT_EQ(line, "after");
  EXPECT_EQ(ReadBoundedLine(in, 4096, &line), LineStatus::kEnd);
}

TEST(ReadBoundedLine, FailedStreamHasNoLines) {
  std::istringstream in("data\n");
  in.setstate(std::ios::badbit);
  std::string line = "old";
  EXPECT_EQ(ReadBoundedLine(in, 64, &line), LineStatus::kEnd);
  EXPECT_EQ(line, "");
}

TEST(ShortenForLog, CutsAtACharacterBoundary) {
  EXPECT_EQ(ShortenForLog("abc", 3), "abc");
  EXPECT_EQ(ShortenForLog("abcd", 3), "abc...");
  // "你" is three bytes: a cut inside it moves back to its start.
  EXPECT_EQ(ShortenForLog("a你b", 2), "a...");
  EXPECT_EQ(ShortenForLog("a你b", 4), "a你...");
  EXPECT_EQ(ShortenForLog("你", 1), "...");
}

}  // namespace
}  // namespace dictacore
