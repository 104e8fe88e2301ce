// For ./x demo on a display of its own, where no person presses Ok: waits for
// handoff's prompt window and, told to, presses Enter in it as a person would,
// by SendInput once the window is in the foreground (program_driver.h).
//
//   press_ok.exe wait     ends with 0 once the prompt is up, ready for input
//   press_ok.exe press    the same, then presses Enter in it
//
// It ends with 1 when no prompt came within a minute, or the key could not
// be sent.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include "program_driver.h"

int main(int argc, char** argv) {
  const bool press = argc == 2 && strcmp(argv[1], "press") == 0;
  if (argc != 2 || (!press && strcmp(argv[1], "wait") != 0)) {
    fprintf(stderr, "usage: press_ok wait|press\n");
    return 2;
  }
  HWND prompt = WaitForPromptWindow(NULL, 60000);
  if (prompt == NULL) {
    fprintf(stderr, "press_ok: no prompt window within a minute\n");
    return 1;
  }
  // What goes wrong is told as a test's failure is, outside any test.
  if (press) PressKeysIn(prompt, "Return");
  return ::testing::Test::HasFailure() ? 1 : 0;
}
