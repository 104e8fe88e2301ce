// Test entry for window_test, which measures the program's windows from
// outside: it must see real pixels, so it declares itself DPI aware before any
// window exists. It does not carry the program's manifest, as form_test does:
// its tests need the system's code page, which the manifest replaces by UTF-8.
#include <windows.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  SetProcessDPIAware();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
