// main() of an end-to-end test binary: one Wine session for all its cases.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

// A session that cannot start fails every case with its reason, rather
// than letting them pass or skip unnoticed.
struct WineSessionEnvironment : ::testing::Environment {
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(e2e::start_session(&error)) << error;
  }
  void TearDown() override { e2e::stop_session(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new WineSessionEnvironment);
  return RUN_ALL_TESTS();
}
