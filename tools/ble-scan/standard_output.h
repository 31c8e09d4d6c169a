// Standard output as every platform writes it: file descriptor 1, unbuffered.
#ifndef BEACONSWEEP_STANDARD_OUTPUT_H_
#define BEACONSWEEP_STANDARD_OUTPUT_H_

#include <string>

namespace beaconsweep {

// Writes all of `bytes` to file descriptor 1 at once, unbuffered. A reader
// that has gone away is no one to report to: the rest is dropped silently.
void WriteAllToStandardOutput(const std::string& bytes);

}  // namespace beaconsweep

#endif  // BEACONSWEEP_STANDARD_OUTPUT_H_
