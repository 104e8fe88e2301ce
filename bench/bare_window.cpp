// Baseline of the start-up benchmark: the least a Win32 GUI program does to
// show a window, an empty one of the prompt's outer size read from its
// resources. Like the prompt, it ends on WM_CLOSE.
#include <windows.h>

#include "bare_window.h"

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(IDR_WINDOW_SIZE), RT_RCDATA);
  if (found == NULL) return 1;
  const LONG* size = static_cast<const LONG*>(LockResource(LoadResource(instance, found)));
  if (size == NULL) return 1;

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(NULL, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = "BareWindow";
  if (RegisterClassA(&windowClass) == 0) return 1;
  HWND window = CreateWindowExA(0, "BareWindow", "Bare Window", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, size[0], size[1], NULL, NULL, instance, NULL);
  if (window == NULL) return 1;
  // As the prompt does, so both windows appear the same way.
  ShowWindow(window, SW_SHOWDEFAULT);

  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
