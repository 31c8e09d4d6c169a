#include "engine/common/line_reader.h"

#include <streambuf>

namespace dictacore {

LineStatus ReadBoundedLine(std::istream& in, size_t max_bytes, std::string* line,
                           size_t* length) {
  line->clear();
  if (length != nullptr) *length = 0;
  std::streambuf* buffer = in.rdbuf();
  if (buffer == nullptr || !in.good()) return LineStatus::kEnd;
  using Traits = std::char_traits<char>;
  size_t total = 0;
  bool any = false;
  for (;;) {
    const Traits::int_type next = buffer->sbumpc();
    if (Traits::eq_int_type(next, Traits::eof())) {
      in.setstate(std::ios::eofbit);
      if (!any) return LineStatus::kEnd;
      break;
    }
    any = true;
    const char ch = Traits::to_char_type(next);
    if (ch == '\n') break;
    if (total < max_bytes) line->push_back(ch);
    ++total;
  }
  if (length != nullptr) *length = total;
  return total > max_bytes ? LineStatus::kTooLong : LineStatus::kLine;
}

}  // namespace dictacore
