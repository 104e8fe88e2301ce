// Drives the real handoff.exe as a person would: starts it, finds its window,
// presses keys through the X server with xdotool, and ends it by its handle.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Screen resolution as Wine reads it for the next program started: 0 restores
// the prefix's own setting.
void SetLogPixels(DWORD dpi);

// Runs xdotool with these arguments and waits for it to finish, at most 15 s.
void RunXdotool(const std::string& arguments);

// The running processes that process `parentId` started from a program file
// named `exeName` (as "handoff.exe"): how a test finds the program that an
// installer it started runs in turn.
std::vector<DWORD> ChildProcessIds(DWORD parentId, const char* exeName);

// The visible prompt window of this process, once it has taken its initial
// focus; NULL when the process ends first or after timeoutMs.
HWND WaitForPromptWindow(HANDLE process, DWORD timeoutMs = 30000);

// Gives this top-level window the X keyboard focus, then presses these keys
// (xdotool names); RunningProgram::PressKeys does so for its own window.
void PressKeysIn(HWND window, const std::string& keys);

class RunningProgram {
 public:
  // Starts handoff.exe, found beside the test program unless `program` names
  // another copy, with this command-line tail (UTF-8).
  explicit RunningProgram(const std::string& arguments, const std::string& program = "");
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool started() const {
    return process_ != NULL;
  }
  // The visible prompt window of this process, or NULL after timeoutMs.
  HWND WaitForWindow(DWORD timeoutMs = 30000);
  // True when the process ended within timeoutMs; its exit code goes to exitCode.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
  bool Running() const;
  HWND window() const {
    return window_;
  }
  DWORD threadId() const {
    return threadId_;
  }
  HANDLE process() const {
    return process_;
  }

  // Gives the window the X keyboard focus, then presses these keys (xdotool names).
  void PressKeys(const std::string& keys);
  // Clicks the control with the mouse, through the X server.
  void ClickControl(int id);

 private:
  HANDLE process_ = NULL;
  DWORD threadId_ = 0;
  HWND window_ = NULL;
};
