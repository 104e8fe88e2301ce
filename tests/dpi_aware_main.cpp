// Test entry for programs that measure windows: they must see real pixels, so
// they declare themselves DPI aware before any window exists.
#include <windows.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  SetProcessDPIAware();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
