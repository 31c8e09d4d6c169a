#include "engine/common/file_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "engine/common/clock.h"
#include "engine/common/scoped_temp_dir.h"

namespace dictacore {
namespace {

using std::chrono::milliseconds;

TEST(ExclusiveFileLock, OneHolderAtATimeAndTheWaitIsBounded) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.File("db.lock");
  ExclusiveFileLock first;
  ExclusiveFileLock second;
  std::string error;
  ASSERT_TRUE(first.Acquire(path, milliseconds(0), &error)) << error;
  EXPECT_TRUE(first.held());

  Stopwatch waited;
  EXPECT_FALSE(second.Acquire(path, milliseconds(200), &error));
  EXPECT_GE(waited.ElapsedMs(), 200);
  EXPECT_EQ(error, "timed out after 200 ms waiting for the lock on " + path);
  EXPECT_FALSE(second.held());

  first.Release();
  EXPECT_TRUE(second.Acquire(path, milliseconds(0), &error)) << error;
  second.Release();
  // The lock file stays for the next holder.
  EXPECT_EQ(::access(path.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace dictacore
