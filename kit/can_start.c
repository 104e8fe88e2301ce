// Does nothing and ends with 0. The kit's runner starts it first in each build
// folder: where the system cannot start it, it can start no program of that
// build (a 64-bit one on 32-bit Windows, or on Windows 10 on ARM), and the
// build is reported as not tested; once it starts, any test program of the
// build that does not start is a failure. It imports what every program of
// the build imports, kernel32 and the C runtime, and nothing more.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  return 0;
}
