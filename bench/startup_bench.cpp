// Start-up benchmark: the time from CreateProcess until handoff.exe's prompt
// window is visible, against two baselines: content_window.exe, the content
// floor (the least a window with the prompt's manifest, Common Controls and
// controls pays), and bare_window.exe, the floor for any Win32 GUI program
// here. The three are started from this program's folder, in turns whose
// order rotates from run to run.
//   HANDOFF_BENCH_STARTUP_RUNS   runs of each (default 40)
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "bench_support.h"

namespace {

const int kDefaultRuns = 40;
const double kWindowTimeoutMs = 30000;
const DWORD kExitTimeoutMs = 10000;

struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND hwnd, LPARAM lParam) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(lParam);
  DWORD processId = 0;
  GetWindowThreadProcessId(hwnd, &processId);
  if (processId == search->processId && IsWindowVisible(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// Starts the program, returns the milliseconds until it shows a visible
// top-level window (negative when none came), and ends the program.
double TimeToWindow(const std::string& program) {
  std::string command = "\"" + program + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info;
  double start = NowMs();
  if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
    ReportFailure("cannot start " + program);
    return -1;
  }
  CloseHandle(info.hThread);

  WindowSearch search = {info.dwProcessId, NULL};
  double elapsed = -1;
  while (NowMs() - start < kWindowTimeoutMs) {
    EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != NULL) {
      elapsed = NowMs() - start;
      break;
    }
    // Also the poll's pause: 1 ms, short against a start of many milliseconds.
    if (WaitForSingleObject(info.hProcess, 1) == WAIT_OBJECT_0) break;
  }
  if (elapsed < 0) fprintf(stderr, "%s showed no window\n", program.c_str());

  // Closed as a person would close it; killed only if it does not end.
  if (search.found != NULL) PostMessageA(search.found, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(info.hProcess, kExitTimeoutMs) != WAIT_OBJECT_0) {
    fprintf(stderr, "%s did not end on WM_CLOSE: terminated\n", program.c_str());
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, kExitTimeoutMs);
  }
  CloseHandle(info.hProcess);
  return elapsed;
}

}  // namespace

int main() {
  const std::string programs[] = {ModuleFolder() + "\\handoff.exe",
                                  ModuleFolder() + "\\content_window.exe",
                                  ModuleFolder() + "\\bare_window.exe"};
  char text[16] = "";
  int runs = GetEnvironmentVariableA("HANDOFF_BENCH_STARTUP_RUNS", text, sizeof(text)) > 0
                 ? atoi(text)
                 : kDefaultRuns;
  if (runs < 5) runs = 5;

  // The first start of each reads its DLLs from disk: a warm-up, not counted.
  for (const std::string& program : programs) {
    if (TimeToWindow(program) < 0) return 1;
  }
  std::vector<double> times[3];
  for (int run = 0; run < runs; ++run) {
    for (int turn = 0; turn < 3; ++turn) {
      int which = (run + turn) % 3;
      double ms = TimeToWindow(programs[which]);
      if (ms < 0) return 1;
      times[which].push_back(ms);
    }
  }
  PrintFigure("start-up", times[0], times[1], 1.05, "content floor");
  PrintFigure("start-up", times[0], times[2], 0, "floor");
  return 0;
}
