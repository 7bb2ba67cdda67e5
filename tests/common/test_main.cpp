#include <gtest/gtest.h>

namespace testenv {
void setUp();
void tearDown();
}  // namespace testenv

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  testenv::setUp();
  int result = RUN_ALL_TESTS();
  testenv::tearDown();
  return result;
}
