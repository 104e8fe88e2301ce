// Keeps a Wine session's desktop in use for a whole test or benchmark run.
//
// Wine starts the desktop process (explorer.exe /desktop) from the first
// program that needs a desktop, and that process keeps the program's standard
// error. It ends only once the desktop has had no users for a moment. A test
// that happened to start it held CTest's output pipe for as long as other
// tests kept the desktop busy, and CTest counted that test as running until
// the pipe closed. Started once per session with no output of anyone's, this
// program is the desktop's first and lasting user. It shows nothing and runs
// until the session is ended.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // A window, never shown, ties the process to the desktop.
  HWND window = CreateWindowExA(0, "STATIC", "handoff desktop keeper", WS_OVERLAPPED, 0, 0, 1, 1,
                                NULL, NULL, instance, NULL);
  if (window == NULL) return 1;
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
