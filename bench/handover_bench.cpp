// Hand-over benchmark: ScheduleRun over 1,000 existing files that a trivial
// handler (open_nothing.exe) accepts, against a plain loop of ShellExecuteA
// "open" over the same files with the same owner. Both run in this process, in
// turns. The handler is registered for a file type of the benchmark's own,
// under HKEY_CLASSES_ROOT, and removed with the files at the end.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "schedule.h"

namespace {

const int kEntries = 1000;
const int kDefaultRuns = 5;
const int kLeastRuns = 5;
const double kIdleTimeoutMs = 300000;
const char kExtension[] = ".handoffbench";
const char kProgId[] = "HandoffBench.File";

bool SetClassesDefault(const std::string& subkey, const std::string& text) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                      NULL) != ERROR_SUCCESS) {
    return false;
  }
  LONG result = RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

void RemoveRegistration() {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, kProgId);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kProgId);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kExtension);
}

bool Register() {
  std::string handler = ModuleFolder() + "\\open_nothing.exe";
  return SetClassesDefault(kExtension, kProgId) &&
         SetClassesDefault(std::string(kProgId) + "\\shell\\open\\command",
                           "\"" + handler + "\" \"%1\"");
}

std::string FilesFolder() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  return std::string(temp) + "handoff-bench-" + std::to_string(GetCurrentProcessId());
}

bool MakeFiles(const std::string& folder, std::vector<std::string>* files) {
  if (!CreateDirectoryA(folder.c_str(), NULL)) return false;
  for (int i = 0; i < kEntries; ++i) {
    std::string path = folder + "\\file" + std::to_string(i) + kExtension;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(file, path.c_str(), static_cast<DWORD>(path.size()), &written, NULL);
    CloseHandle(file);
    files->push_back(path);
  }
  return true;
}

void RemoveFiles(const std::string& folder, const std::vector<std::string>& files) {
  for (const std::string& file : files) DeleteFileA(file.c_str());
  RemoveDirectoryA(folder.c_str());
}

bool WriteList(const std::string& subkey, const std::vector<std::string>& files) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                      NULL) != ERROR_SUCCESS) {
    return false;
  }
  DWORD count = static_cast<DWORD>(files.size());
  bool written =
      RegSetValueExA(key, "inscount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                     sizeof(count)) == ERROR_SUCCESS;
  for (size_t i = 0; i < files.size() && written; ++i) {
    std::string name = "ins" + std::to_string(i);
    written = RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(files[i].c_str()),
                             static_cast<DWORD>(files[i].size() + 1)) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return written;
}

// Waits until every handler started so far has ended, so that no run pays for
// the previous one's processes. The handlers are this process's children and
// so members of its job.
bool WaitForHandlers(HANDLE job) {
  double start = NowMs();
  for (;;) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof(accounting), NULL)) {
      ReportFailure("cannot count the handlers");
      return false;
    }
    if (accounting.ActiveProcesses <= 1) return true;
    if (NowMs() - start > kIdleTimeoutMs) {
      fprintf(stderr, "%lu handlers still running\n", accounting.ActiveProcesses - 1);
      return false;
    }
    Sleep(20);
  }
}

// Hands every file to the shell as the run does, without the list.
bool PlainHandOver(HWND owner, const std::vector<std::string>& files) {
  for (size_t i = 0; i < files.size(); ++i) {
    INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(owner, "open", files[i].c_str(), NULL, NULL, SW_HIDE));
    if (result <= 32) {
      fprintf(stderr, "the shell refused entry %zu with %d (error %lu)\n", i,
              static_cast<int>(result), GetLastError());
      return false;
    }
  }
  return true;
}

int RunsFromEnvironment() {
  const char* text = getenv("HANDOFF_BENCH_HANDOVER_RUNS");
  int runs = text != NULL ? atoi(text) : kDefaultRuns;
  return runs < kLeastRuns ? kLeastRuns : runs;
}

int Measure(HANDLE job, char* storeName, const std::vector<std::string>& files) {
  HWND owner = CreateWindowExA(0, "STATIC", "hand-over", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL,
                               NULL, GetModuleHandleA(NULL), NULL);
  if (owner == NULL) {
    ReportFailure("no owner window: is DISPLAY set?");
    return 1;
  }
  const int runs = RunsFromEnvironment();
  // One hand-over alone first: it is the warm-up, and it tells how long the
  // whole benchmark will take.
  double start = NowMs();
  std::vector<std::string> first(files.begin(), files.begin() + 1);
  bool accepted = PlainHandOver(owner, first);
  double oneMs = NowMs() - start;
  if (!accepted || !WaitForHandlers(job)) {
    fprintf(stderr, "the handler refused the first file\n");
    DestroyWindow(owner);
    return 1;
  }
  printf(
      "hand-over: one ShellExecuteA takes %.1f ms: %d runs each of %d entries take about %.0f "
      "min\n",
      oneMs, runs, kEntries, oneMs * kEntries * runs * 2 / 60000);
  fflush(stdout);

  char program[] = "handoff";
  char* argv[] = {program, storeName, NULL};
  std::vector<double> measured;
  std::vector<double> baseline;
  int status = 0;
  // Now and then Wine fails to start a handler (ShellExecuteA returns 11, as
  // if the handler were no program): a pair with such a refusal on either side
  // is not a measurement, and is made again, a limited number of times.
  for (int pair = 0; measured.size() < static_cast<size_t>(runs) && status == 0; ++pair) {
    if (pair >= 3 * runs) {
      fprintf(stderr, "too many refusals: the shell does not accept the files\n");
      status = 1;
      break;
    }
    start = NowMs();
    ScheduleRun(2, argv, owner);
    double runMs = NowMs() - start;
    MSG msg;
    bool runFinished = PeekMessageA(&msg, owner, WM_CLOSE, WM_CLOSE, PM_REMOVE) != FALSE;
    if (!WaitForHandlers(job)) status = 1;

    start = NowMs();
    accepted = PlainHandOver(owner, files);
    double plainMs = NowMs() - start;
    if (!WaitForHandlers(job)) status = 1;
    if (runFinished && accepted) {
      measured.push_back(runMs);
      baseline.push_back(plainMs);
    } else {
      fprintf(stderr, "hand-over: the shell refused a file %s: that pair of runs is made again\n",
              runFinished ? "of the plain loop" : "of the run");
    }
  }
  DestroyWindow(owner);
  if (status == 0) PrintFigure("hand-over", measured, baseline, 1.05);
  return status;
}

}  // namespace

int main() {
  // The handlers inherit this job, which tells when they have all ended, and
  // ends any that are left when this process ends.
  HANDLE job = CreateJobObjectA(NULL, NULL);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job == NULL ||
      !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
      !AssignProcessToJobObject(job, GetCurrentProcess())) {
    ReportFailure("cannot make a job for the handlers");
    return 1;
  }

  std::string storeName = "handoff-bench-handover-" + std::to_string(GetCurrentProcessId());
  const std::string subkey = "Software\\Varnolt\\" + storeName;
  const std::string folder = FilesFolder();
  std::vector<std::string> files;
  int status = 1;
  // A registration left by an interrupted run would be harmless, but is replaced.
  RemoveRegistration();
  if (!Register()) {
    ReportFailure("cannot register the handler under HKEY_CLASSES_ROOT");
  } else if (!MakeFiles(folder, &files)) {
    ReportFailure("cannot make the files in " + folder);
  } else if (!WriteList(subkey, files)) {
    ReportFailure("cannot write the list under HKCU\\" + subkey);
  } else {
    status = Measure(job, &storeName[0], files);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, subkey.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, subkey.c_str());
  RemoveRegistration();
  RemoveFiles(folder, files);
  return status;
}
