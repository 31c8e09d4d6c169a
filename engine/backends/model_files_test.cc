#include "engine/backends/model_files.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace dictacore {
namespace {

TEST(CallToolkit, NullExceptionAndHandle) {
  std::unique_ptr<int> owner;
  std::string error;
  EXPECT_FALSE(CallToolkit(&owner, "SherpaOnnxCreateThing", [] { return nullptr; }, &error));
  EXPECT_EQ(error, "SherpaOnnxCreateThing() failed");

  owner = std::make_unique<int>(1);
  EXPECT_FALSE(CallToolkit(
      &owner, "SherpaOnnxCreateThing",
      []() -> int* { throw std::runtime_error("Protobuf parsing failed."); }, &error));
  EXPECT_EQ(error, "SherpaOnnxCreateThing() failed: Protobuf parsing failed.");
  EXPECT_EQ(owner, nullptr) << "a failed call leaves no old handle behind";

  EXPECT_FALSE(CallToolkit(&owner, "SherpaOnnxCreateThing", []() -> int* { throw 7; }, nullptr));
  EXPECT_TRUE(CallToolkit(&owner, "SherpaOnnxCreateThing", [] { return new int(5); }, &error));
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(*owner, 5);
}

}  // namespace
}  // namespace dictacore
