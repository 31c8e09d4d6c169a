// Whether the test binary is built with a sanitizer, for the few tests that
// cannot run under one: address-space limits collide with shadow memory, and
// a child that the toolkit ends with exit() gets a leak report instead of the
// toolkit's status. Also the leak-check exemptions of tests that make the
// toolkit fail on purpose (see ToolkitFailureLeaks below).
#ifndef DICTACORE_TESTS_SUPPORT_SANITIZERS_H_
#define DICTACORE_TESTS_SUPPORT_SANITIZERS_H_

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DICTACORE_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define DICTACORE_TEST_SANITIZED 1
#endif
#endif
#ifndef DICTACORE_TEST_SANITIZED
#define DICTACORE_TEST_SANITIZED 0
#endif

#if defined(__SANITIZE_ADDRESS__)
#define DICTACORE_TEST_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DICTACORE_TEST_LEAK_CHECKED 1
#endif
#endif
#ifndef DICTACORE_TEST_LEAK_CHECKED
#define DICTACORE_TEST_LEAK_CHECKED 0
#endif

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#if DICTACORE_TEST_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace dictacore::testing {

constexpr bool kSanitizedBuild = DICTACORE_TEST_SANITIZED != 0;

// The toolkit allocates the handle it returns before it builds the model, and
// does not free it when building throws: each create that fails on a broken
// model leaks that handle (8 bytes). Tests that break models on purpose exempt
// exactly those allocations; every other leak is still reported.
//
// In this process: allocations made while a pause is alive are not leaks.
class ScopedLeakCheckPause {
 public:
  ScopedLeakCheckPause() {
#if DICTACORE_TEST_LEAK_CHECKED
    __lsan_disable();
#endif
  }
  ~ScopedLeakCheckPause() {
#if DICTACORE_TEST_LEAK_CHECKED
    __lsan_enable();
#endif
  }
  ScopedLeakCheckPause(const ScopedLeakCheckPause&) = delete;
  ScopedLeakCheckPause& operator=(const ScopedLeakCheckPause&) = delete;
};

// In the engine processes started while it is alive: whatever the toolkit's
// create functions leave behind is suppressed on top of the suppressions in
// force (the file LSAN_OPTIONS names), so these tests still catch every leak
// of the engine's own. `file` is where the combined list is written.
class ScopedToolkitFailureSuppressions {
 public:
  explicit ScopedToolkitFailureSuppressions(const std::string& file) {
    if (!DICTACORE_TEST_LEAK_CHECKED) return;
    const char* current = std::getenv("LSAN_OPTIONS");
    if (current != nullptr) saved_ = current;
    const std::string options = saved_.value_or("");
    std::ostringstream list;
    const std::string key = "suppressions=";
    std::string current_file;
    std::istringstream fields(options);
    for (std::string field; std::getline(fields, field, ':');) {
      if (field.compare(0, key.size(), key) == 0) current_file = field.substr(key.size());
    }
    if (!current_file.empty()) {
      std::ifstream in(current_file);
      list << std::string(std::istreambuf_iterator<char>(in), {}) << "\n";
    }
    list << "leak:SherpaOnnxCreate\n";
    std::ofstream(file) << list.str();
    const std::string combined = options + (options.empty() ? "" : ":") + key + file;
    ::setenv("LSAN_OPTIONS", combined.c_str(), 1);
  }
  ~ScopedToolkitFailureSuppressions() {
    if (!DICTACORE_TEST_LEAK_CHECKED) return;
    if (saved_) {
      ::setenv("LSAN_OPTIONS", saved_->c_str(), 1);
    } else {
      ::unsetenv("LSAN_OPTIONS");
    }
  }
  ScopedToolkitFailureSuppressions(const ScopedToolkitFailureSuppressions&) = delete;
  ScopedToolkitFailureSuppressions& operator=(const ScopedToolkitFailureSuppressions&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace dictacore::testing

#endif  // DICTACORE_TESTS_SUPPORT_SANITIZERS_H_
