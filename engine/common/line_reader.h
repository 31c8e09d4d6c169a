// Text lines from outside input (standard input, files the user names)
// without letting one endless line take unbounded memory.
#ifndef DICTACORE_ENGINE_COMMON_LINE_READER_H_
#define DICTACORE_ENGINE_COMMON_LINE_READER_H_

#include <cstddef>
#include <istream>
#include <string>

namespace dictacore {

enum class LineStatus {
  kLine,     // a whole line is in `line`
  kTooLong,  // the line was longer than the limit; `line` holds its start
  kEnd,      // nothing left (or the stream failed)
};

// Reads the next line of `in`, consuming its line feed without storing it. A
// line longer than `max_bytes` is still consumed up to its line feed, but
// only its first `max_bytes` bytes are kept. `length`, when given, receives
// the line's full length. A last line without a line feed is a line, as with
// std::getline; every other byte (carriage returns, NULs) is kept as read.
LineStatus ReadBoundedLine(std::istream& in, size_t max_bytes, std::string* line,
                           size_t* length = nullptr);

}  // namespace dictacore

#endif  // DICTACORE_ENGINE_COMMON_LINE_READER_H_
