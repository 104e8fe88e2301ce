// Plain helpers shared by the tests and the kit's runner (see test_base.h).
#include "test_base.h"

#include <algorithm>

bool WaitUntil(DWORD timeoutMs, DWORD pollMs, const std::function<bool()>& done) {
  for (DWORD start = GetTickCount();; Sleep(pollMs)) {
    if (done()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
  }
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

std::string Utf8(const std::wstring& text) {
  const int size = static_cast<int>(text.size());
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, NULL, 0, NULL, NULL);
  std::string utf8(length, '\0');
  if (length != 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &utf8[0], length, NULL, NULL);
  return utf8;
}

std::vector<std::pair<std::wstring, bool>> FolderEntries(const std::wstring& folder,
                                                         const wchar_t* pattern) {
  std::vector<std::pair<std::wstring, bool>> entries;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") {
      entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(entries.begin(), entries.end());
  return entries;
}

void RemoveFolderTree(const std::wstring& folder) {
  for (const auto& [name, isFolder] : FolderEntries(folder)) {
    if (isFolder) {
      RemoveFolderTree(folder + L"\\" + name);
    } else {
      DeleteFileW((folder + L"\\" + name).c_str());
    }
  }
  RemoveDirectoryW(folder.c_str());
}

void DeleteKeyTree(HKEY root, const std::wstring& keyPath) {
  RegDeleteTreeW(root, keyPath.c_str());
  RegDeleteKeyW(root, keyPath.c_str());
}

HDESK CreateUnseenDesktop(const std::wstring& stationName, HWINSTA* station) {
  *station = CreateWindowStationW(stationName.c_str(), 0, WINSTA_ALL_ACCESS, NULL);
  // A desktop is made in the process's own window station.
  HWINSTA own = GetProcessWindowStation();
  if (*station == NULL || !SetProcessWindowStation(*station)) return NULL;
  HDESK desktop = CreateDesktopW(L"Default", NULL, NULL, 0, GENERIC_ALL, NULL);
  SetProcessWindowStation(own);
  return desktop;
}

ChildProcess::~ChildProcess() {
  End();
  // A job made to end what the process leaves running does so as it closes.
  if (job_ != NULL) CloseHandle(job_);
  if (process_ != NULL) CloseHandle(process_);
}

bool ChildProcess::Start(std::wstring commandLine, const ChildOptions& options) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  std::wstring desktop = options.desktop != nullptr ? options.desktop : L"";
  if (!desktop.empty()) startup.lpDesktop = &desktop[0];
  if (options.hidden) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  const BOOL inherit = options.output != NULL;
  if (inherit) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = options.input;
    startup.hStdOutput = startup.hStdError = options.output;
  }
  // Suspended until it is in its job, so that all it starts is in it too.
  const DWORD flags = options.flags | (options.inJob ? CREATE_SUSPENDED : 0);
  PROCESS_INFORMATION info;
  const BOOL started =
      options.token != NULL
          ? CreateProcessAsUserW(options.token, NULL, &commandLine[0], NULL, NULL, inherit, flags,
                                 NULL, options.folder, &startup, &info)
          : CreateProcessW(NULL, &commandLine[0], NULL, NULL, inherit, flags, NULL, options.folder,
                           &startup, &info);
  if (!started) {
    error_ = GetLastError();
    return false;
  }
  if (options.inJob) {
    job_ = CreateJobObjectW(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job_ != NULL && (!SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits,
                                                  sizeof(limits)) ||
                         !AssignProcessToJobObject(job_, info.hProcess))) {
      CloseHandle(job_);
      job_ = NULL;
    }
    ResumeThread(info.hThread);
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  threadId_ = info.dwThreadId;
  return true;
}

bool ChildProcess::Open(DWORD processId) {
  process_ =
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, processId);
  return process_ != NULL;
}

bool ChildProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) const {
  if (process_ == NULL || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process_, exitCode) != FALSE;
}

bool ChildProcess::Running() const {
  return process_ != NULL && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void ChildProcess::End() {
  if (!Running()) return;
  if (job_ == NULL || !TerminateJobObject(job_, 1)) TerminateProcess(process_, 1);
  WaitForSingleObject(process_, 10000);
}

DWORD ChildProcess::LeftInJob(DWORD timeoutMs) const {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
  WaitUntil(timeoutMs, 50, [&] {
    return job_ == NULL ||
           !QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &accounting,
                                      sizeof(accounting), NULL) ||
           accounting.ActiveProcesses == 0;
  });
  return accounting.ActiveProcesses;
}
