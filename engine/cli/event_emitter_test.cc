#include "engine/cli/event_emitter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cmath>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace dictacore {
namespace {

using nlohmann::json;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string CaptureEmits(const std::function<void(EventEmitter&)>& body) {
  EventEmitter emitter;
  testing::internal::CaptureStdout();
  body(emitter);
  return testing::internal::GetCapturedStdout();
}

TEST(JsonEscape, FiveShortEscapes) {
  EXPECT_EQ(JsonEscape("a\tb\nc\rd\"e\\f"), "a\\tb\\nc\\rd\\\"e\\\\f");
  EXPECT_EQ(JsonEscape(""), "");
  EXPECT_EQ(EventEmitter::EscapeJson("x\"y"), "x\\\"y");
}

TEST(JsonEscape, OtherControlBytesBecomeUnicodeEscapes) {
  EXPECT_EQ(JsonEscape(std::string("\f")), "\\u000c");
  EXPECT_EQ(JsonEscape(std::string("\x1b[0m")), "\\u001b[0m");
  EXPECT_EQ(JsonEscape(std::string(1, '\0')), "\\u0000");
  EXPECT_EQ(JsonEscape(std::string("\x1f")), "\\u001f");
  EXPECT_EQ(JsonEscape(std::string("\b")), "\\u0008");
}

TEST(JsonEscape, HighBytesAndDeletePassThrough) {
  EXPECT_EQ(JsonEscape("你好/é"), "你好/é");
  EXPECT_EQ(JsonEscape(std::string("\x7f\x80\xff")), std::string("\x7f\x80\xff"));
}

TEST(EventEmitter, ControlEventsHaveSortedKeys) {
  const std::string out = CaptureEmits([](EventEmitter& e) {
    e.EmitReady();
    e.EmitLog("hello");
    e.EmitError("bad");
    e.EmitComplete("done");
    e.EmitLog("");
  });
  EXPECT_EQ(out,
            "{\"type\":\"ready\"}\n"
            "{\"message\":\"hello\",\"type\":\"log\"}\n"
            "{\"message\":\"bad\",\"type\":\"error\"}\n"
            "{\"message\":\"done\",\"type\":\"complete\"}\n"
            "{\"message\":\"\",\"type\":\"log\"}\n");
}

TEST(EventEmitter, LogMessageIsEscapedOnOneLine) {
  const std::string out =
      CaptureEmits([](EventEmitter& e) { e.EmitLog("q\" b\\ t\t n\n f\f"); });
  EXPECT_EQ(out, "{\"message\":\"q\\\" b\\\\ t\\t n\\n f\\u000c\",\"type\":\"log\"}\n");
  EXPECT_EQ(json::parse(SplitLines(out).at(0))["message"], "q\" b\\ t\t n\n f\f");
}

TEST(EventEmitter, ObjectWithNoFieldsAndEscapedKeys) {
  const std::string out = CaptureEmits([](EventEmitter& e) {
    e.EmitObject({});
    e.EmitObject({{"b", "2"}, {"a\"", "1"}});
  });
  EXPECT_EQ(out, "{}\n{\"a\\\"\":\"1\",\"b\":\"2\"}\n");
}

TEST(EventEmitter, LinesFromManyThreadsStayWhole) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  const std::string out = CaptureEmits([](EventEmitter& e) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&e, t] {
        for (int i = 0; i < kLines; ++i) {
          e.EmitLog("thread " + std::to_string(t) + " line " + std::to_string(i) +
                    std::string(300, 'x'));
        }
      });
    }
    for (auto& th : threads) th.join();
  });
  const auto lines = SplitLines(out);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const auto& line : lines) {
    const json event = json::parse(line);
    std::istringstream msg(event["message"].get<std::string>());
    std::string word1, word3;
    int t = -1, i = -1;
    msg >> word1 >> t >> word3 >> i;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]++) << "lines of one thread arrive in order";
  }
}

TEST(FirstPassEvent, KeyOrderAndSessionId) {
  EXPECT_EQ(BuildFirstPassEventJson(3, "hi", false, -1),
            "{\"type\":\"first-pass\",\"segment_id\":3,\"text\":\"hi\",\"mode\":\"online_partial\","
            "\"is_final\":false}");
  EXPECT_EQ(BuildFirstPassEventJson(1, "a\"b", true, 0),
            "{\"type\":\"first-pass\",\"sessionId\":0,\"segment_id\":1,\"text\":\"a\\\"b\","
            "\"mode\":\"online_partial\",\"is_final\":true}");
}

TEST(PunctuatedEvent, KeyOrderAndSessionId) {
  EXPECT_EQ(BuildPunctuatedEventJson(7, "你好。", -1),
            "{\"type\":\"punctuated\",\"segment_id\":7,\"text\":\"你好。\"}");
  EXPECT_EQ(BuildPunctuatedEventJson(7, "x", 12),
            "{\"type\":\"punctuated\",\"sessionId\":12,\"segment_id\":7,\"text\":\"x\"}");
}

TEST(ResultEvent, SkipsSegmentsWithoutContentAndOmitsNegativeIds) {
  const std::vector<SegmentResult> segments = {{0.0, 1.0, "，", ""}, {1.0, 2.0, "words", ""}};
  EXPECT_EQ(BuildSecondPassResultJson(segments, false, false, -1, -1, -1, nullptr, -1),
            "{\"type\":\"result\",\"stage\":\"second-pass\",\"mode\":\"offline_final\","
            "\"segments\":[{\"start_time\":1.00,\"end_time\":2.00,\"start_ms\":1000,"
            "\"end_ms\":2000,\"text\":\"words\"}]}");
}

TEST(ResultEvent, MergedTextJoinsContentSegmentsWhenFinal) {
  const std::vector<SegmentResult> segments = {
      {0.0, 1.0, "a", ""}, {1.0, 2.0, "。", ""}, {2.0, 3.0, "b", "SPEAKER_00"}};
  const std::string out = BuildSecondPassResultJson(segments, false, true, -1, -1, 0, nullptr, -1);
  EXPECT_EQ(out,
            "{\"type\":\"result\",\"stage\":\"second-pass\",\"mode\":\"offline_final\","
            "\"is_final\":true,\"segments\":["
            "{\"start_time\":0.00,\"end_time\":1.00,\"start_ms\":0,\"end_ms\":1000,\"text\":\"a\"},"
            "{\"start_time\":2.00,\"end_time\":3.00,\"start_ms\":2000,\"end_ms\":3000,"
            "\"text\":\"b\",\"speaker\":\"SPEAKER_00\"}],\"merged_text\":\"a b\"}");
}

TEST(ResultEvent, AllFlagsAndIdsInOrder) {
  const std::vector<SegmentResult> segments = {{2.5, 3.25, "x", ""}};
  const std::string merged = "Merged.";
  EXPECT_EQ(BuildSecondPassResultJson(segments, true, true, 6, 4, 3, &merged, 2),
            "{\"type\":\"result\",\"stage\":\"second-pass\",\"mode\":\"offline_final\","
            "\"sessionId\":2,\"segment_id\":6,\"segment_start_id\":4,\"segment_count\":3,"
            "\"is_final\":true,\"offline_2pass\":true,\"segments\":[{\"start_time\":2.50,"
            "\"end_time\":3.25,\"start_ms\":2500,\"end_ms\":3250,\"text\":\"x\"}],"
            "\"merged_text\":\"Merged.\"}");
}

TEST(ResultEvent, MergedTextOnlyWhenFinalOrOffline) {
  const std::vector<SegmentResult> segments = {{0, 1, "a", ""}};
  const std::string merged = "a";
  EXPECT_EQ(json::parse(BuildSecondPassResultJson(segments, false, false, 1, 1, 1, &merged, -1))
                .count("merged_text"),
            0u);
  EXPECT_EQ(json::parse(BuildSecondPassResultJson(segments, true, false, -1, -1, -1, &merged, -1))
                ["merged_text"],
            "a");
}

TEST(ResultEvent, GivenMergedTextWithoutContentIsDropped) {
  const std::vector<SegmentResult> segments = {{0, 1, "a", ""}};
  const std::string merged = "。 ";
  const json event =
      json::parse(BuildSecondPassResultJson(segments, true, true, -1, -1, -1, &merged, -1));
  EXPECT_EQ(event.count("merged_text"), 0u);
}

TEST(ResultEvent, EmptyListGivesEmptyArray) {
  EXPECT_EQ(BuildSecondPassResultJson({}, true, true, -1, -1, -1, nullptr, -1),
            "{\"type\":\"result\",\"stage\":\"second-pass\",\"mode\":\"offline_final\","
            "\"is_final\":true,\"offline_2pass\":true,\"segments\":[]}");
  EXPECT_EQ(BuildSecondPassResultJson({{0, 1, " ", ""}}, false, false, -1, -1, 0, nullptr, -1),
            "{\"type\":\"result\",\"stage\":\"second-pass\",\"mode\":\"offline_final\","
            "\"segments\":[]}");
}

TEST(ResultEvent, TimeFormatting) {
  auto segment_json = [](double start, double end) {
    return json::parse(
        BuildSecondPassResultJson({{start, end, "t", ""}}, false, false, -1, -1, 0, nullptr, -1))
        ["segments"][0];
  };
  const json a = segment_json(0.0004, 1.5);
  EXPECT_EQ(a["start_ms"], 0);
  EXPECT_EQ(a["end_ms"], 1500);
  const std::string raw =
      BuildSecondPassResultJson({{1.5, 10.005, "t", ""}}, false, false, -1, -1, 0, nullptr, -1);
  EXPECT_NE(raw.find("\"start_time\":1.50,"), std::string::npos);
  const json b = segment_json(0.0005, 123.4567);
  EXPECT_EQ(b["start_ms"], 1);
  EXPECT_EQ(b["end_ms"], 123457);
}

TEST(ResultEvent, NonFiniteTimesStillGiveValidJson) {
  const std::string raw = BuildSecondPassResultJson(
      {{std::nan(""), std::numeric_limits<double>::infinity(), "t", ""}}, false, false, -1, -1, 0,
      nullptr, -1);
  const json segment = json::parse(raw)["segments"][0];
  EXPECT_EQ(segment["start_ms"], 0);
  EXPECT_EQ(segment["end_time"], 0.0);
}

// Random text, valid UTF-8 with every control character, quotes and
// backslashes well represented.
std::string RandomUtf8(std::mt19937& rng) {
  std::uniform_int_distribution<int> length(0, 40);
  std::uniform_int_distribution<int> kind(0, 5);
  std::string out;
  for (int n = length(rng); n > 0; --n) {
    char32_t cp = 0;
    switch (kind(rng)) {
      case 0: cp = std::uniform_int_distribution<int>(0, 0x1f)(rng); break;
      case 1: cp = "\"\\/\x7f"[std::uniform_int_distribution<int>(0, 3)(rng)]; break;
      case 2: cp = std::uniform_int_distribution<int>(0x20, 0x7e)(rng); break;
      case 3: cp = std::uniform_int_distribution<int>(0x80, 0x7ff)(rng); break;
      case 4: cp = std::uniform_int_distribution<int>(0x4e00, 0x9fff)(rng); break;
      default: cp = std::uniform_int_distribution<int>(0x10000, 0x10ffff)(rng); break;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

TEST(EventProperty, RandomTextRoundTripsThroughEveryEvent) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 2000; ++round) {
    const std::string text = RandomUtf8(rng);
    const std::string speaker = RandomUtf8(rng);
    SCOPED_TRACE(testing::Message() << "round " << round);

    const json first = json::parse(BuildFirstPassEventJson(1, text, false, -1));
    EXPECT_EQ(first["text"], text);
    const json punct = json::parse(BuildPunctuatedEventJson(1, text, 3));
    EXPECT_EQ(punct["text"], text);

    const std::string merged = "m" + text;
    const json result = json::parse(BuildSecondPassResultJson(
        {{0.0, 1.0, "x" + text, "s" + speaker}}, true, true, -1, -1, 0, &merged, -1));
    EXPECT_EQ(result["segments"][0]["text"], "x" + text);
    EXPECT_EQ(result["segments"][0]["speaker"], "s" + speaker);
    EXPECT_EQ(result["merged_text"], merged);
  }
}

TEST(EventProperty, RandomBytesNeverLeaveRawControlCharacters) {
  // Arbitrary bytes (not necessarily UTF-8): the escaped form never holds a
  // raw control byte or an unescaped quote, so the line stays one JSON string.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 2000; ++round) {
    std::string text(static_cast<size_t>(byte(rng) % 64), '\0');
    for (char& c : text) c = static_cast<char>(byte(rng));
    const std::string escaped = JsonEscape(text);
    bool backslash = false;
    for (unsigned char c : escaped) {
      ASSERT_GE(c, 0x20u);
      if (!backslash) {
        ASSERT_NE(c, '"');
      }
      backslash = !backslash && c == '\\';
    }
    EXPECT_FALSE(backslash) << "escape sequence cut off at the end";
  }
}

// --- Standard output that cannot take the lines ---------------------------------

// Points standard output at `fd` for the rest of a death-test child.
void RedirectStdout(int fd) {
  if (::dup2(fd, STDOUT_FILENO) < 0) std::_Exit(2);
}

TEST(EventEmitterDeathTest, ClosedOutputEndsTheProcessWhenSigpipeIsIgnored) {
  EXPECT_EXIT(
      {
        std::signal(SIGPIPE, SIG_IGN);
        int fds[2];
        if (::pipe(fds) != 0) std::_Exit(2);
        ::close(fds[0]);
        RedirectStdout(fds[1]);
        EventEmitter emitter;
        emitter.EmitLog("nobody reads this");
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kOutputLostExitStatus), "");
}

TEST(EventEmitterDeathTest, FullDiskBehindTheOutputEndsTheProcess) {
  EXPECT_EXIT(
      {
        const int full = ::open("/dev/full", O_WRONLY);
        if (full < 0) std::_Exit(2);
        RedirectStdout(full);
        EventEmitter emitter;
        emitter.EmitReady();
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kOutputLostExitStatus), "");
}

// A host may hand over a non-blocking pipe. When it is full the emitter waits
// for the reader instead of taking the pause for a lost output.
TEST(EventEmitter, WaitsWhileANonBlockingOutputIsFull) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  ASSERT_GE(::dup2(fds[1], STDOUT_FILENO), 0);
  ::close(fds[1]);

  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fds[0], buffer, sizeof(buffer))) > 0) {
      received.append(buffer, static_cast<size_t>(n));
    }
  });
  {
    EventEmitter emitter;
    // 200 lines of 1 KB: several times what the pipe holds.
    for (int i = 0; i < 200; ++i) emitter.EmitLog(std::to_string(i) + std::string(1000, 'x'));
  }
  ::dup2(saved, STDOUT_FILENO);  // drops the last writer: the reader sees the end
  ::close(saved);
  reader.join();
  ::close(fds[0]);

  const std::vector<std::string> lines = SplitLines(received);
  ASSERT_EQ(lines.size(), 200u);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(json::parse(lines[i])["message"], std::to_string(i) + std::string(1000, 'x'));
  }
}

}  // namespace
}  // namespace dictacore
