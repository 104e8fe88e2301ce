// The "open" handler of the hand-over benchmark's file type: it accepts the
// file and ends at once, so that the benchmark times the shell's hand-over and
// not the work of a handler.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return 0;
}
