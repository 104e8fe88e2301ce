// Starting, finding, pressing and ending the real program, on Windows and
// under Wine.
#include "program_driver.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "test_support.h"

// The prompt window of this process (of any when 0), on this desktop (the
// caller's when NULL), shown or not; NULL when there is none.
static HWND PromptWindowOf(DWORD processId, HDESK desktop = NULL) {
  return FindTopWindow(
      [processId](HWND hwnd) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        return (processId == 0 || owner == processId) && HasClass(hwnd, "TForm1");
      },
      desktop);
}

int ScreenDpi() {
  HDC screen = GetDC(NULL);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(NULL, screen);
  return dpi;
}

bool MaySetScreenResolution() {
  char own[4];
  return RunningUnderWine() &&
         GetEnvironmentVariableA("HANDOFF_TEST_OWN_PREFIX", own, sizeof(own)) == 1 && own[0] == '1';
}

void SetLogPixels(DWORD dpi) {
  ASSERT_TRUE(MaySetScreenResolution()) << "the screen resolution is not ours to set here";
  if (dpi != 0) {
    WriteUserKey("Control Panel\\Desktop", {DwordValue("LogPixels", dpi)});
  } else {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels");
  }
}

bool BringToForeground(HWND window) {
  return WaitUntil(5000, 50, [window] {
    if (GetForegroundWindow() == window) return true;
    // Windows lets only some processes set the foreground: the foreground one
    // (a test started from the console that has the focus is one), what it
    // starts, and a thread that shares the foreground thread's input. Where
    // the plain call is refused, the test joins the foreground thread's input
    // for the call.
    if (SetForegroundWindow(window) && GetForegroundWindow() == window) return true;
    DWORD ours = GetCurrentThreadId();
    DWORD foreground = GetWindowThreadProcessId(GetForegroundWindow(), NULL);
    if (foreground != 0 && foreground != ours && AttachThreadInput(ours, foreground, TRUE)) {
      SetForegroundWindow(window);
      AttachThreadInput(ours, foreground, FALSE);
    }
    return GetForegroundWindow() == window;
  });
}

std::vector<DWORD> WaitForProcessesOf(const std::string& programPath, HANDLE whileRunning,
                                      DWORD timeoutMs) {
  std::vector<DWORD> found;
  const std::wstring wanted = Widen(programPath);
  WaitUntil(timeoutMs, 50, [&] {
    const bool ended =
        whileRunning != NULL && WaitForSingleObject(whileRunning, 0) == WAIT_OBJECT_0;
    found.clear();
    DWORD ids[4096];
    DWORD bytes = 0;
    if (!EnumProcesses(ids, sizeof(ids), &bytes)) return ended;
    for (DWORD i = 0; i < bytes / sizeof(ids[0]); ++i) {
      HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids[i]);
      if (process == NULL) continue;
      wchar_t path[MAX_PATH];
      DWORD length = MAX_PATH;
      if (QueryFullProcessImageNameW(process, 0, path, &length) &&
          _wcsicmp(path, wanted.c_str()) == 0) {
        found.push_back(ids[i]);
      }
      CloseHandle(process);
    }
    return !found.empty() || ended;
  });
  return found;
}

HWND WaitForPromptWindow(HANDLE process, DWORD timeoutMs) {
  HWND found = NULL;
  bool ended = false;
  const bool ready = WaitUntil(timeoutMs, 50, [&] {
    found = PromptWindowOf(process != NULL ? GetProcessId(process) : 0);
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof(gui);
    ended = process != NULL && WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    return ended ||
           (found != NULL && IsWindowVisible(found) &&
            GetGUIThreadInfo(GetWindowThreadProcessId(found, NULL), &gui) && gui.hwndFocus != NULL);
  });
  // The window takes the focus as it is shown, and the program moves it to
  // its first button before it waits for input.
  if (ready && !ended && process != NULL) WaitForInputIdle(process, 5000);
  return ended ? NULL : found;
}

static void SendInputs(std::vector<INPUT> inputs) {
  EXPECT_EQ(SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)),
            inputs.size())
      << "SendInput error " << GetLastError();
}

void PressKeysIn(HWND window, const std::string& keys) {
  // Keys go to the foreground window's thread, and there to its focus.
  ASSERT_TRUE(BringToForeground(window)) << "the window did not come to the foreground";
  static const std::map<std::string, WORD> kKeys = {
      {"Return", VK_RETURN}, {"Escape", VK_ESCAPE}, {"Tab", VK_TAB}, {"space", VK_SPACE}};
  std::istringstream names(keys);
  bool first = true;
  for (std::string name; names >> name; first = false) {
    const auto key = kKeys.find(name);
    ASSERT_NE(key, kKeys.end()) << "no key named " << name;
    if (!first) Sleep(150);
    std::vector<INPUT> press(2, INPUT{INPUT_KEYBOARD, {}});
    press[0].ki.wVk = press[1].ki.wVk = key->second;
    press[0].ki.wScan = press[1].ki.wScan =
        static_cast<WORD>(MapVirtualKeyA(key->second, MAPVK_VK_TO_VSC));
    press[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInputs(press);
  }
}

RunningProgram::RunningProgram(const std::string& arguments, const std::string& program,
                               const std::string& desktop) {
  std::string command =
      "\"" + (program.empty() ? ModuleFolder() + "\\handoff.exe" : program) + "\"";
  if (!arguments.empty()) command += " " + arguments;
  // Wide, as an installer starts it: the arguments may hold any letters.
  const std::wstring wideDesktop = Widen(desktop);
  ChildOptions options;
  if (!desktop.empty()) options.desktop = wideDesktop.c_str();
  if (!Start(Widen(command), options)) ADD_FAILURE() << "cannot start " << command;
}

HWND RunningProgram::WaitForWindow(DWORD timeoutMs) {
  if (handle() != NULL) window_ = WaitForPromptWindow(handle(), timeoutMs);
  return window_;
}

void RunningProgram::PressKeys(const std::string& keys) {
  PressKeysIn(window_, keys);
}

// A click of the logical left button at the control's centre (in pixels of a
// DPI-aware program). SendInput takes absolute positions in 65536ths of the
// virtual screen; the middle of each pixel's share maps back to that pixel.
// Its button events are of the physical buttons, which the system swaps for a
// left-handed user (SM_SWAPBUTTON): the physical right one then clicks as the
// left.
void RunningProgram::ClickControl(int id) {
  HWND control = GetDlgItem(window_, id);
  ASSERT_NE(control, nullptr);
  RECT rect;
  GetWindowRect(control, &rect);
  const LONGLONG width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const LONGLONG height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  ASSERT_TRUE(width > 0 && height > 0) << "no screen";
  // The click lands on whatever is topmost there: the window comes first.
  ASSERT_TRUE(BringToForeground(window_)) << "the window did not come to the foreground";
  const LONGLONG x = (rect.left + rect.right) / 2 - GetSystemMetrics(SM_XVIRTUALSCREEN);
  const LONGLONG y = (rect.top + rect.bottom) / 2 - GetSystemMetrics(SM_YVIRTUALSCREEN);
  const bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
  std::vector<INPUT> click(3, INPUT{INPUT_MOUSE, {}});
  click[0].mi.dx = static_cast<LONG>((x * 65536 + 32768) / width);
  click[0].mi.dy = static_cast<LONG>((y * 65536 + 32768) / height);
  click[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
  click[1].mi.dwFlags = swapped ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
  click[2].mi.dwFlags = swapped ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
  SendInputs(click);
}

UnseenDesktop::UnseenDesktop()
    : path("handoff-test-unseen-" + std::to_string(GetCurrentProcessId())),
      desktop_(CreateUnseenDesktop(Widen(path), &station_)) {
  USEROBJECTFLAGS flags = {};
  if (station_ == NULL ||
      !GetUserObjectInformationA(station_, UOI_FLAGS, &flags, sizeof(flags), NULL)) {
    ADD_FAILURE() << "no window station of the test's own: error " << GetLastError();
    return;
  }
  EXPECT_EQ(flags.dwFlags & WSF_VISIBLE, 0u) << "the test's window station is visible";
  EXPECT_NE(desktop_, nullptr) << "no desktop in the test's window station";
  path += "\\Default";
}

UnseenDesktop::~UnseenDesktop() {
  if (desktop_ != NULL) CloseDesktop(desktop_);
  if (station_ != NULL) CloseWindowStation(station_);
}

HWND UnseenDesktop::PromptOf(DWORD processId) const {
  return desktop_ != NULL ? PromptWindowOf(processId, desktop_) : NULL;
}
