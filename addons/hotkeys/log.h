// Diagnostics of the add-on: one line on standard error per message.
#ifndef ADDONS_HOTKEYS_LOG_H_
#define ADDONS_HOTKEYS_LOG_H_

#include <functional>
#include <string>

namespace chordwatch {

using LogSink = std::function<void(const std::string&)>;

// Writes "[Chordwatch C++] <message>" and a line feed to standard error and
// flushes it.
void Log(const std::string& message);

// System clock time in seconds since the Unix epoch, microsecond resolution.
double SystemClockSeconds();

}  // namespace chordwatch

#endif  // ADDONS_HOTKEYS_LOG_H_
