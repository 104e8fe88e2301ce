// Does nothing but end with the number it is given, which tells that it ran:
// the kit's runner starts it first in each build folder. Where the system
// cannot start it, or a process starts that never runs it (Wine whose 32-bit
// loader cannot run reports a started process that ends with 0), the system
// can start no program of that build (a 64-bit one on 32-bit Windows, or on
// Windows 10 on ARM), and the build is reported as not tested; once it runs,
// any test program of the build that does not start is a failure. It imports
// what every program of the build imports, kernel32 and the C runtime.
#include <stdlib.h>

int main(int argc, char** argv) {
  return argc > 1 ? (int)strtoul(argv[1], NULL, 10) : 0;
}
