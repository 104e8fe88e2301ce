// Does nothing but end with the number it is given, which tells that it ran:
// the kit's runner starts it first in each build folder. Where the system
// cannot start it, or a process starts that never runs it (Wine whose 32-bit
// loader cannot run reports a started process that ends with 0), the system
// can start no program of that build (a 64-bit one on 32-bit Windows, or on
// Windows 10 on ARM), and the build is reported as not tested; once it runs,
// any test program of the build that does not start is a failure. It imports
// what every program of the build imports, kernel32 and the C runtime.
#include <windows.h>

#include <stdlib.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  return (int)strtoul(commandLine, NULL, 10);
}
