// For ./x demo on a display of its own, where no person presses Ok: waits for
// handoff's prompt window and, told to, presses Enter in it as a person would,
// by SendInput once the window is in the foreground.
//
//   press_ok.exe wait     ends with 0 once the prompt is up, ready for input
//   press_ok.exe press    the same, then presses Enter in it
//
// It ends with 1 when no prompt came within a minute, or the key could not
// be sent.
#include <windows.h>

#include <stdio.h>
#include <string.h>

// The prompt once it has put the focus on its first button, which it does
// before it waits for input.
static BOOL CALLBACK FindPrompt(HWND hwnd, LPARAM lParam) {
  char className[16], title[64];
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof(gui);
  if (IsWindowVisible(hwnd) && GetClassNameA(hwnd, className, sizeof(className)) &&
      strcmp(className, "TForm1") == 0 && GetWindowTextA(hwnd, title, sizeof(title)) &&
      strcmp(title, "Automatic Installation") == 0 &&
      GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, NULL), &gui) && gui.hwndFocus != NULL) {
    *reinterpret_cast<HWND*>(lParam) = hwnd;
    return FALSE;
  }
  return TRUE;
}

int main(int argc, char** argv) {
  const bool press = argc == 2 && strcmp(argv[1], "press") == 0;
  if (argc != 2 || (!press && strcmp(argv[1], "wait") != 0)) {
    fprintf(stderr, "usage: press_ok wait|press\n");
    return 2;
  }
  HWND prompt = NULL;
  for (DWORD start = GetTickCount(); prompt == NULL && GetTickCount() - start < 60000; Sleep(50)) {
    EnumWindows(FindPrompt, reinterpret_cast<LPARAM>(&prompt));
  }
  if (prompt == NULL) {
    fprintf(stderr, "press_ok: no prompt window within a minute\n");
    return 1;
  }
  if (!press) return 0;
  // A key goes to the foreground window's thread, and there to its focus.
  for (DWORD start = GetTickCount();
       GetForegroundWindow() != prompt && GetTickCount() - start < 5000; Sleep(50)) {
    SetForegroundWindow(prompt);
  }
  if (GetForegroundWindow() != prompt) {
    fprintf(stderr, "press_ok: the prompt did not come to the foreground\n");
    return 1;
  }
  INPUT enter[2] = {};
  enter[0].type = INPUT_KEYBOARD;
  enter[0].ki.wVk = VK_RETURN;
  enter[0].ki.wScan = static_cast<WORD>(MapVirtualKeyA(VK_RETURN, MAPVK_VK_TO_VSC));
  enter[1] = enter[0];
  enter[1].ki.dwFlags = KEYEVENTF_KEYUP;
  if (SendInput(2, enter, sizeof(INPUT)) != 2) {
    fprintf(stderr, "press_ok: SendInput error %lu\n", GetLastError());
    return 1;
  }
  return 0;
}
