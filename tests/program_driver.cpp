// Starting, finding, pressing and ending the real program under Wine and Xvfb.
#include "program_driver.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

struct FindContext {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindPromptWindow(HWND hwnd, LPARAM lParam) {
  FindContext* context = reinterpret_cast<FindContext*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  char className[64];
  if (owner == context->processId && IsWindowVisible(hwnd) &&
      GetClassNameA(hwnd, className, sizeof(className)) && strcmp(className, "TForm1") == 0) {
    context->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void SetLogPixels(DWORD dpi) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, NULL, 0, KEY_ALL_ACCESS,
                            NULL, &key, NULL),
            ERROR_SUCCESS);
  if (dpi == 0) {
    RegDeleteValueA(key, "LogPixels");
  } else {
    RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                   sizeof(dpi));
  }
  RegCloseKey(key);
}

void RunXdotool(const std::string& arguments) {
  // Wine starts Unix programs but never signals their end, so the command
  // leaves its exit status in a file that we wait for.
  static int count = 0;
  std::string marker = "/tmp/handoff-xdotool-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(++count);
  std::string dosMarker = "Z:" + marker;
  for (char& c : dosMarker) {
    if (c == '/') c = '\\';
  }
  DeleteFileA(dosMarker.c_str());
  std::string command = "/bin/sh -c \"timeout 10 xdotool " + arguments + "; echo $? >" + marker +
                        ".part && mv " + marker + ".part " + marker + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info;
  ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
      << command << " error " << GetLastError();
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  std::string status;
  for (DWORD start = GetTickCount(); GetTickCount() - start < 15000; Sleep(20)) {
    HANDLE file = CreateFileA(dosMarker.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) continue;
    char text[16];
    DWORD got = 0;
    ReadFile(file, text, sizeof(text), &got, NULL);
    CloseHandle(file);
    DeleteFileA(dosMarker.c_str());
    status.assign(text, got);
    break;
  }
  EXPECT_EQ(status, "0\n") << "xdotool " << arguments;
}

std::vector<DWORD> ChildProcessIds(DWORD parentId, const char* exeName) {
  std::vector<DWORD> children;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return children;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parentId && _stricmp(entry.szExeFile, exeName) == 0) {
      children.push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
  return children;
}

HWND WaitForPromptWindow(HANDLE process, DWORD timeoutMs) {
  FindContext context = {GetProcessId(process), NULL};
  for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs;) {
    context.found = NULL;
    EnumWindows(FindPromptWindow, reinterpret_cast<LPARAM>(&context));
    if (context.found != NULL) {
      GUITHREADINFO gui = {};
      gui.cbSize = sizeof(gui);
      DWORD thread = GetWindowThreadProcessId(context.found, NULL);
      if (GetGUIThreadInfo(thread, &gui) && gui.hwndFocus != NULL) {
        // The window takes the focus as it is shown, and the program moves it
        // to its first button before it waits for input.
        WaitForInputIdle(process, 5000);
        return context.found;
      }
    }
    if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) return NULL;
  }
  return context.found;
}

void PressKeysIn(HWND window, const std::string& keys) {
  // Wine keeps the X window of each top-level window in this property.
  HANDLE xWindow = GetPropA(window, "__wine_x11_whole_window");
  ASSERT_NE(xWindow, nullptr);
  // A key reaches a Wine window only once the X server has given it the focus,
  // and once Wine has made it the foreground window in turn, which a busy
  // machine can take a while to do.
  RunXdotool("windowfocus --sync " + std::to_string(reinterpret_cast<UINT_PTR>(xWindow)));
  for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20)) {
    if (GetForegroundWindow() == window) break;
  }
  EXPECT_EQ(GetForegroundWindow(), window) << "the window did not come to the foreground";
  RunXdotool("key --delay 150 " + keys);
}

RunningProgram::RunningProgram(const std::string& arguments, const std::string& program) {
  std::string command =
      "\"" + (program.empty() ? ModuleFolder() + "\\handoff.exe" : program) + "\"";
  if (!arguments.empty()) command += " " + arguments;
  // Wide, as an installer starts it: the arguments may hold any letters.
  std::wstring wideCommand = Widen(command);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info;
  if (!CreateProcessW(NULL, &wideCommand[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
    ADD_FAILURE() << "cannot start " << command;
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  threadId_ = info.dwThreadId;
}

RunningProgram::~RunningProgram() {
  if (process_ == NULL) return;
  if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 10000);
  }
  CloseHandle(process_);
}

HWND RunningProgram::WaitForWindow(DWORD timeoutMs) {
  if (process_ != NULL) window_ = WaitForPromptWindow(process_, timeoutMs);
  return window_;
}

bool RunningProgram::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (process_ == NULL || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(process_, exitCode);
  return true;
}

bool RunningProgram::Running() const {
  return process_ != NULL && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void RunningProgram::PressKeys(const std::string& keys) {
  PressKeysIn(window_, keys);
}

void RunningProgram::ClickControl(int id) {
  HWND control = GetDlgItem(window_, id);
  ASSERT_NE(control, nullptr);
  HANDLE xWindow = GetPropA(window_, "__wine_x11_whole_window");
  ASSERT_NE(xWindow, nullptr);
  // The X window holds the client area; click the control's centre within it.
  RECT rect;
  GetWindowRect(control, &rect);
  POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  ScreenToClient(window_, &centre);
  RunXdotool("windowfocus --sync " + std::to_string(reinterpret_cast<UINT_PTR>(xWindow)) +
             " mousemove --window " + std::to_string(reinterpret_cast<UINT_PTR>(xWindow)) + " " +
             std::to_string(centre.x) + " " + std::to_string(centre.y) + " click 1");
}
