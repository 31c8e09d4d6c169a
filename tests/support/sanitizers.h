// Whether the test binary is built with a sanitizer, for the few tests that
// cannot run under one: address-space limits collide with shadow memory, and
// a child that the toolkit ends with exit() gets a leak report instead of the
// toolkit's status.
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

namespace dictacore::testing {

constexpr bool kSanitizedBuild = DICTACORE_TEST_SANITIZED != 0;

}  // namespace dictacore::testing

#endif  // DICTACORE_TESTS_SUPPORT_SANITIZERS_H_
