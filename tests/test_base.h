// What the tests' GoogleTest helpers (test_support) and the kit's runner,
// which links no GoogleTest, share: a wait with a limit, a child process
// started, waited for with a limit and ended by its handle, a folder's
// entries, and UTF-8 text.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// What owns a window, a thread, a key, a folder or a process is not copied.
struct NoCopy {
  NoCopy() = default;
  NoCopy(const NoCopy&) = delete;
  NoCopy& operator=(const NoCopy&) = delete;
};

// Asks `done` until it says true, every pollMs, at least once and then for at
// most timeoutMs; true when it did.
bool WaitUntil(DWORD timeoutMs, DWORD pollMs, const std::function<bool()>& done);

// True under Wine, whose ntdll exports its version; false on Windows.
bool RunningUnderWine();

// The text as UTF-8.
std::string Utf8(const std::wstring& text);

// The entries of a folder that match this pattern, in order of name, without
// "." and "..": each name, and whether it is a folder.
std::vector<std::pair<std::wstring, bool>> FolderEntries(const std::wstring& folder,
                                                         const wchar_t* pattern = L"*");
// Removes the folder with all that is in it.
void RemoveFolderTree(const std::wstring& folder);
// Removes the key with all its subkeys and values.
void DeleteKeyTree(HKEY root, const std::wstring& keyPath);

// A window station of the caller's own without visible display surfaces (no
// WSF_VISIBLE), as services and tasks that run whether the user is logged on
// or not have, and its one desktop, "Default", which this returns; NULL when
// either cannot be made. Both stay until they are closed.
HDESK CreateUnseenDesktop(const std::wstring& stationName, HWINSTA* station);

// How a ChildProcess starts.
struct ChildOptions {
  const wchar_t* folder = nullptr;   // its current folder; the caller's when null
  const wchar_t* desktop = nullptr;  // "station\\desktop"; the caller's when null
  DWORD flags = 0;                   // CreateProcess's creation flags
  HANDLE input = NULL;               // with output: inheritable standard handles
  HANDLE output = NULL;              // standard output and error
  HANDLE token = NULL;               // run as this user's token, when given
  bool hidden = false;               // shown with SW_HIDE, as the shell starts a handler
  // In a job of its own, which ends what it started and left running when
  // the object goes.
  bool inJob = false;
};

// A process of the caller's: started or opened by its id, waited for with a
// limit, and ended by its handle (with its job, when it has one) if it is
// still running when the object goes.
class ChildProcess : NoCopy {
 public:
  ~ChildProcess();

  // False when it could not start, with CreateProcess's error in error().
  bool Start(std::wstring commandLine, const ChildOptions& options = {});
  bool Open(DWORD processId);
  // True when it ended within timeoutMs; its exit code goes to exitCode.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode) const;
  bool Running() const;
  // Ends it, and its job, when it still runs, and waits at most 10 s for that.
  void End();
  // The processes still in its job after waiting at most timeoutMs for them
  // to end; 0 without a job.
  DWORD LeftInJob(DWORD timeoutMs) const;

  HANDLE handle() const {
    return process_;
  }
  DWORD threadId() const {
    return threadId_;
  }
  DWORD error() const {
    return error_;
  }

 private:
  HANDLE process_ = NULL;
  HANDLE job_ = NULL;
  DWORD threadId_ = 0;
  DWORD error_ = 0;
};
