// Drives the real handoff.exe as a person would: starts it, finds its window,
// presses keys and clicks, and ends it by its handle.
//
// Keys and clicks are sent with SendInput to the window once it is in the
// foreground, on Windows and under Wine alike, in the test kit and under
// CTest: they reach the window as a person's keyboard and mouse do, through
// the system's input queue and under its foreground rules.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "test_support.h"

// The screen's resolution, in dots per inch, as a DPI-aware program sees it.
int ScreenDpi();
// True where the tests may set the screen resolution for the programs they
// start: only under Wine, in a prefix that is the tests' own, which whoever
// runs them says by setting HANDOFF_TEST_OWN_PREFIX to 1 (CTest for the build
// tree's prefix, ./x test for the kit's throwaway one). Anywhere else, and on
// Windows always, it is left as it is.
bool MaySetScreenResolution();
// Screen resolution as Wine reads it for the next program started: 0 restores
// the prefix's own setting. Only where MaySetScreenResolution().
void SetLogPixels(DWORD dpi);

// Makes this top-level window the foreground one, as a person's click on it
// would; false when it is not after a few seconds.
bool BringToForeground(HWND window);

// The running processes whose program file is exactly this one (a full
// path, in any case): how a test finds the program that an installer runs,
// whichever process of the installer's starts it. Waits at most timeoutMs
// for one to start, and no longer than `whileRunning` (when given) runs.
// Whether it has ended is asked before the processes are listed, so that one
// it started just before it ended is listed too.
std::vector<DWORD> WaitForProcessesOf(const std::string& programPath, HANDLE whileRunning,
                                      DWORD timeoutMs);

// The visible prompt window of this process (of any, when it is NULL), once
// it has taken its initial focus; NULL when the process ends first or after
// timeoutMs.
HWND WaitForPromptWindow(HANDLE process, DWORD timeoutMs = 30000);

// Brings this top-level window to the foreground, then presses these keys,
// 150 ms apart (named Return, Escape, Tab, space);
// RunningProgram::PressKeys does so for its own window.
void PressKeysIn(HWND window, const std::string& keys);

// A started handoff.exe, ended by its handle if it outlives the test.
class RunningProgram : public ChildProcess {
 public:
  // Starts handoff.exe, found beside the test program unless `program` names
  // another copy, with this command-line tail (UTF-8), on the desktop that
  // `desktop` names ("station\\desktop"; the test's own when empty).
  explicit RunningProgram(const std::string& arguments, const std::string& program = "",
                          const std::string& desktop = "");

  // The visible prompt window of this process, or NULL after timeoutMs.
  HWND WaitForWindow(DWORD timeoutMs = 30000);
  HWND window() const {
    return window_;
  }

  // Brings the window to the foreground, then presses these keys (as PressKeysIn).
  void PressKeys(const std::string& keys);
  // Clicks the control with the mouse, at its centre, with the logical left
  // button: the right one where the buttons are swapped (SM_SWAPBUTTON).
  void ClickControl(int id);

 private:
  HWND window_ = NULL;
};

// A window station of the test's own that no one sees, with one desktop
// (CreateUnseenDesktop); both go with the object.
class UnseenDesktop : NoCopy {
 public:
  UnseenDesktop();
  ~UnseenDesktop();
  // The prompt window of this process on the desktop, shown or not, or NULL.
  HWND PromptOf(DWORD processId) const;

  std::string path;  // "station\\desktop", to start a program there

 private:
  HWINSTA station_ = NULL;
  HDESK desktop_;
};
