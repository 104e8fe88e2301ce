// Baselines of the start-up benchmark. The floor (bare_window.exe): the least
// a Win32 GUI program does to show a window, an empty one of the prompt's outer
// size read from its resources. The content floor (content_window.exe, built
// from this file with CONTENT_FLOOR): the least a window with the prompt's
// content pays, the same window with handoff.exe's own manifest (Common
// Controls 6, DPI awareness, code page, from its resources), Common Controls
// initialised and the prompt's four plain controls at their places; nothing
// else of the program. Like the prompt, both end on WM_CLOSE.
#include <windows.h>
#ifdef CONTENT_FLOOR
#include <commctrl.h>
#endif

#include "bare_window.h"

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

#ifdef CONTENT_FLOOR
struct Control {
  const char* windowClass;
  const char* caption;
  int left, top, width, height;
};

const Control kControls[] = {
    {"STATIC", "The next step in installation is to schedule the appropriate files.", 8, 16, 377,
     33},
    {"STATIC", "This installation program will attempt to do that now.", 8, 56, 377, 41},
    {"BUTTON", "Ok", 121, 128, 75, 25},
    {"BUTTON", "Cancel", 201, 128, 75, 25},
};
#endif

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
#ifdef CONTENT_FLOOR
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
#endif
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
#ifdef CONTENT_FLOOR
  for (const Control& control : kControls) {
    CreateWindowExA(0, control.windowClass, control.caption, WS_CHILD | WS_VISIBLE, control.left,
                    control.top, control.width, control.height, window, NULL, instance, NULL);
  }
#endif
  // As the prompt does, so both windows appear the same way.
  ShowWindow(window, SW_SHOWDEFAULT);

  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
