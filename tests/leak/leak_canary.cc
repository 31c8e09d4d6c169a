// Leaks one block on purpose. Linked like dictacore_leakcheck, it shows that
// the leak reports of that build reach the test (exit status 23 and a report
// on standard error).
#include <cstdlib>

// Stores through a volatile pointer keep the optimizer from dropping the
// allocation; after the second store nothing points to the block.
void* volatile sink = nullptr;

int main() {
  sink = std::malloc(4096);
  sink = nullptr;
  return 0;
}
