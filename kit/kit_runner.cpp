// The test kit's runner: runs every test program (*_test.exe) of the kit's
// build folders named on its command line, prints each test's result on a
// line as it comes, and ends with the totals, "N passed, N failed" and
// ", N skipped" when some were. It returns 0 only when nothing failed.
//
//   kit_runner.exe BUILD...    (the folders beside the runner's own: i686, x86_64)
//
// Each program runs in a job of its own, with a time limit; a process it
// leaves running is ended with the job. Whether this system can start the
// programs of a build at all is decided once, by its can_start.exe, which does
// nothing: where that cannot be started (a 64-bit build on 32-bit Windows, or
// on Windows 10 on ARM; 32-bit programs where the system runs none), the build
// is reported as not tested and counted as skipped. Once it starts, a test
// program that does not start is a failure. The tests' temporary files go
// into a folder of the kit's own. What a test run may leave when it is cut
// short (store keys and file types of the tests' own names, files of the
// tests' names in that folder) is looked for afterwards, reported as a failure
// and removed; what other programs put in that folder is only noted.
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const DWORD kProgramTimeoutMs = 15 * 60 * 1000;

struct Totals {
  int passed = 0;
  int failed = 0;
  int skipped = 0;
};

std::string Utf8(const std::wstring& text) {
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0,
                                   NULL, NULL);
  std::string utf8(length, '\0');
  if (length != 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], length,
                        NULL, NULL);
  }
  return utf8;
}

std::wstring Wide(const std::string& utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
  std::wstring wide(length, L'\0');
  if (length != 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
  }
  return wide;
}

// One line of UTF-8 to standard output: as letters to a console, as bytes
// to a file or pipe.
void Print(const std::string& line) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode, written;
  if (GetConsoleMode(out, &mode)) {
    std::wstring text = Wide(line) + L"\r\n";
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
  } else {
    std::string text = line + "\r\n";
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
  }
}

std::wstring RunnerFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

std::vector<std::wstring> TestPrograms(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*_test.exe").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// A result line of gtest's for this test: its marker, the name, then the
// time or, for a parameterized test that failed, its parameter.
bool IsResultOf(const std::string& line, const std::string& marker, const std::string& test) {
  const std::string start = marker + test;
  return StartsWith(line, start) && line.size() > start.size() &&
         (line[start.size()] == ' ' || line[start.size()] == ',');
}

// Follows one program's output, line by line. Result lines are only those of
// the test that is running: a program that a test starts in turn (another
// test program) may write its own into the same output.
class ResultReader {
 public:
  ResultReader(const std::string& label, Totals* totals) : label_(label), totals_(totals) {}

  void Line(const std::string& line) {
    if (running_.empty()) {
      if (StartsWith(line, "[ RUN      ] ")) {
        running_ = line.substr(13);
        told_.clear();
      }
      return;
    }
    if (IsResultOf(line, "[       OK ] ", running_)) {
      Finish("[ PASSED  ] ", line.substr(13), false);
      ++totals_->passed;
      ++passed_;
    } else if (IsResultOf(line, "[  FAILED  ] ", running_)) {
      Finish("[ FAILED  ] ", line.substr(13), true);
      ++totals_->failed;
      ++failed_;
    } else if (IsResultOf(line, "[  SKIPPED ] ", running_)) {
      Finish("[ SKIPPED ] ", line.substr(13), true);
      ++totals_->skipped;
      ++skipped_;
    } else {
      told_.push_back(line);
    }
  }

  // After the program ended with this code, or was ended.
  void End(const std::string& how, DWORD exitCode) {
    if (!running_.empty()) {
      told_.push_back("(" + how + " before this test ended)");
      Finish("[ FAILED  ] ", running_, true);
      ++totals_->failed;
      ++failed_;
    } else if (!how.empty() || (exitCode != 0 && failed_ == 0)) {
      char code[64];
      snprintf(code, sizeof(code), "ended with code %lu", exitCode);
      Print("[ FAILED  ] " + label_ + ": " + (how.empty() ? std::string(code) : how));
      ++totals_->failed;
      ++failed_;
    } else if (passed_ + failed_ + skipped_ == 0) {
      Print("[ FAILED  ] " + label_ + ": ran no test");
      ++totals_->failed;
      ++failed_;
    }
  }

  std::string Summary() const {
    std::string summary =
        std::to_string(passed_) + " passed, " + std::to_string(failed_) + " failed";
    if (skipped_ != 0) summary += ", " + std::to_string(skipped_) + " skipped";
    return summary;
  }

 private:
  void Finish(const char* marker, const std::string& rest, bool tell) {
    Print(marker + label_ + " " + rest);
    // What the test said: why it failed, or why it was skipped.
    if (tell) {
      for (const std::string& line : told_) Print("      " + line);
    }
    running_.clear();
    told_.clear();
  }

  std::string label_;
  Totals* totals_;
  std::string running_;
  std::vector<std::string> told_;
  int passed_ = 0;
  int failed_ = 0;
  int skipped_ = 0;
};

// Runs one test program with its output read line by line; false when this
// Windows cannot start it at all, with the error in *startError.
bool RunProgram(const std::wstring& folder, const std::wstring& name, ResultReader* reader,
                DWORD* startError) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    *startError = GetLastError();
    return false;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, NULL);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring command = L"\"" + folder + L"\\" + name + L"\" --gtest_color=no";
  PROCESS_INFORMATION info;
  // Started in the program's folder, suspended until it is in its job.
  BOOL started = CreateProcessW(NULL, &command[0], NULL, NULL, TRUE, CREATE_SUSPENDED, NULL,
                                folder.c_str(), &startup, &info);
  *startError = started ? 0 : GetLastError();
  CloseHandle(writeEnd);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (!started) {
    CloseHandle(readEnd);
    return false;
  }
  HANDLE job = CreateJobObjectW(NULL, NULL);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  bool inJob =
      job != NULL &&
      SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) &&
      AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);

  // Read what has come until the program ends; not until the pipe closes,
  // which a process the program started and that outlives it may hold open.
  std::string pending;
  std::string how;
  const DWORD start = GetTickCount();
  for (bool ended = false;;) {
    DWORD available = 0;
    if (PeekNamedPipe(readEnd, NULL, 0, NULL, &available, NULL) && available > 0) {
      char buffer[4096];
      DWORD got = 0;
      if (!ReadFile(readEnd, buffer, std::min<DWORD>(available, sizeof(buffer)), &got, NULL)) break;
      pending.append(buffer, got);
      for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        reader->Line(line);
        pending.erase(0, end + 1);
      }
      continue;
    }
    if (ended) break;
    if (WaitForSingleObject(info.hProcess, 20) == WAIT_OBJECT_0) {
      ended = true;  // one more look at the pipe for its last words
    } else if (GetTickCount() - start > kProgramTimeoutMs) {
      how = "still running after " + std::to_string(kProgramTimeoutMs / 60000) + " minutes: ended";
      if (inJob) {
        TerminateJobObject(job, 1);
      } else {
        TerminateProcess(info.hProcess, 1);
      }
      WaitForSingleObject(info.hProcess, 10000);
      ended = true;
    }
  }
  if (!pending.empty()) reader->Line(pending);
  DWORD exitCode = 1;
  GetExitCodeProcess(info.hProcess, &exitCode);
  reader->End(how, exitCode);
  CloseHandle(info.hProcess);
  CloseHandle(readEnd);

  // What the program started and left running is ended with its job.
  if (inJob) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    for (DWORD waited = 0; waited < 5000; waited += 50) {
      if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                     sizeof(accounting), NULL) ||
          accounting.ActiveProcesses == 0) {
        break;
      }
      Sleep(50);
    }
    if (accounting.ActiveProcesses != 0) {
      Print("      (" + std::to_string(accounting.ActiveProcesses) +
            " process(es) it started still running: ended)");
    }
  }
  if (job != NULL) CloseHandle(job);
  return true;
}

// What can_start.exe is told to end with: a code that no process ends with
// unless it ran.
const DWORD kCanStartCode = 20151;

// Starts the build's can_start.exe, which does nothing but end with the code
// it is given, and waits for its end. False when the system cannot start it,
// with CreateProcess's error in *error; otherwise its exit code goes to
// *exitCode (STILL_ACTIVE when it did not end within a minute, and was ended).
bool StartsDoingNothing(const std::wstring& folder, DWORD* error, DWORD* exitCode) {
  std::wstring command = L"\"" + folder + L"\\can_start.exe\" " + std::to_wstring(kCanStartCode);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info;
  if (!CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup,
                      &info)) {
    *error = GetLastError();
    return false;
  }
  CloseHandle(info.hThread);
  *exitCode = STILL_ACTIVE;
  if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(info.hProcess, exitCode);
  } else {
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 10000);
  }
  CloseHandle(info.hProcess);
  return true;
}

std::string Hex(DWORD value) {
  char text[16];
  snprintf(text, sizeof(text), "0x%08lx", value);
  return text;
}

// ---- What a cut-short test run may leave ----

bool HasPrefix(const std::wstring& name, const wchar_t* prefix) {
  return _wcsnicmp(name.c_str(), prefix, wcslen(prefix)) == 0;
}

std::vector<std::wstring> SubkeysWithPrefix(HKEY root, const std::wstring& path,
                                            const std::vector<const wchar_t*>& prefixes) {
  std::vector<std::wstring> found;
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return found;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    for (const wchar_t* prefix : prefixes) {
      if (HasPrefix(name, prefix)) {
        found.push_back(name);
        break;
      }
    }
  }
  RegCloseKey(key);
  return found;
}

bool KeyIsEmpty(HKEY root, const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD subkeys = 1, values = 1;
  RegQueryInfoKeyW(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
  RegCloseKey(key);
  return subkeys == 0 && values == 0;
}

void RemoveFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveFolder(folder + L"\\" + name);
      } else {
        DeleteFileW((folder + L"\\" + name).c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

const wchar_t kMakerKey[] = L"Software\\Varnolt";
const wchar_t kTestsTempPrefix[] = L"handoff-";
bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != NULL;
}

// The tests' store keys (handoff-test-...) and file types (.hoff... and
// .nohandler..., and HandoffTest.... ProgIDs, in the user's classes on
// Windows and in the classes root under Wine, where test_support.cpp puts
// them), and the files of their names in their temporary folder: each test
// removes its own, so what is found was left by one cut short. The folder
// goes too, unless another program holds something in it.
int RemoveLeftovers(bool makerKeyExisted, const std::wstring& tempFolder) {
  int left = 0;
  auto report = [&left](const std::wstring& what) {
    Print("      left: " + Utf8(what) + " (removed now)");
    ++left;
  };
  for (const std::wstring& name :
       SubkeysWithPrefix(HKEY_CURRENT_USER, kMakerKey, {L"handoff-test-"})) {
    report(L"HKEY_CURRENT_USER\\" + std::wstring(kMakerKey) + L"\\" + name);
    RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kMakerKey) + L"\\" + name).c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(kMakerKey) + L"\\" + name).c_str());
  }
  // The tests' keys made the maker's key; it goes with them.
  if (!makerKeyExisted && KeyIsEmpty(HKEY_CURRENT_USER, kMakerKey)) {
    RegDeleteKeyW(HKEY_CURRENT_USER, kMakerKey);
  }
  struct Place {
    HKEY root;
    const wchar_t* rootName;
    const wchar_t* path;
  };
  const Place types = RunningUnderWine()
                          ? Place{HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT", L""}
                          : Place{HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", L"Software\\Classes"};
  const Place noted = {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER",
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts"};
  for (const Place& place : {types, noted}) {
    for (const std::wstring& name :
         SubkeysWithPrefix(place.root, place.path, {L".hoff", L".nohandler", L"HandoffTest."})) {
      std::wstring path = place.path[0] ? std::wstring(place.path) + L"\\" + name : name;
      report(std::wstring(place.rootName) + L"\\" + path);
      RegDeleteTreeW(place.root, path.c_str());
      RegDeleteKeyW(place.root, path.c_str());
    }
  }
  // In the temporary folder, the tests name all they make handoff-...
  // (test_support.cpp and the tests). Anything else there another program put
  // or holds: an antivirus, the indexer, a policy that logs each Windows
  // Installer run to MSI*.LOG in %TEMP%. That is noted and removed where it
  // can be, and fails nothing.
  std::vector<std::pair<std::wstring, bool>> entries;  // name, and whether a folder
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((tempFolder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") {
        entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  for (const auto& [name, isFolder] : entries) {
    const std::wstring path = tempFolder + L"\\" + name;
    if (isFolder) {
      RemoveFolder(path);
    } else {
      DeleteFileW(path.c_str());
    }
    const bool removed = GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (HasPrefix(name, kTestsTempPrefix)) {
      Print("      left: " + Utf8(path) + (removed ? " (removed now)" : " (cannot be removed)"));
      ++left;
    } else {
      Print("      note: " + Utf8(path) + " is not the tests', another program's" +
            (removed ? " (removed now)" : " (in use: left there)"));
    }
  }
  RemoveDirectoryW(tempFolder.c_str());
  return left;
}

// Where this runs, for whoever reads the output.
std::string Platform() {
  using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  using WineVersionFn = const char*(CDECL*)();
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  GetVersionFn getVersion = reinterpret_cast<GetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  WineVersionFn wineVersion = reinterpret_cast<WineVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (getVersion != nullptr) getVersion(&version);
  HDC screen = GetDC(NULL);
  int dpi = screen != NULL ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != NULL) ReleaseDC(NULL, screen);
  std::string text = "Windows " + std::to_string(version.dwMajorVersion) + "." +
                     std::to_string(version.dwMinorVersion) + "." +
                     std::to_string(version.dwBuildNumber);
  if (wineVersion != nullptr) text = "Wine " + std::string(wineVersion()) + " as " + text;
  return text + ", code page " + std::to_string(GetACP()) + ", screen at " + std::to_string(dpi) +
         " dpi";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Measured in real pixels, as the tests measure windows.
  SetProcessDPIAware();
  // No error box of the system's for a program that cannot start.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  if (argc < 2) {
    Print("usage: kit_runner BUILD...   (the kit's build folders, such as i686 x86_64)");
    return 2;
  }
  const std::wstring runnerFolder = RunnerFolder();
  const std::wstring kit = runnerFolder.substr(0, runnerFolder.find_last_of(L'\\'));
  Print("handoff " HANDOFF_VERSION " test kit, on " + Platform());
  // The tests take the paths of their programs and files in the system's code
  // page and as UTF-8 alike, which agree on ASCII only.
  for (wchar_t letter : kit) {
    if (letter < 0x20 || letter > 0x7e) {
      Print("[ FAILED  ] the kit's folder, " + Utf8(kit) +
            ", has letters outside ASCII: unpack it into one such as C:\\handoff-tests");
      Print("0 passed, 1 failed");
      return 1;
    }
  }
  // The tests' temporary files go into a folder of the kit's own, below an
  // ASCII path whatever the user's name, and it goes at the end.
  const std::wstring tempFolder = kit + L"\\temp";
  RemoveFolder(tempFolder);
  CreateDirectoryW(tempFolder.c_str(), NULL);
  SetEnvironmentVariableW(L"TEMP", tempFolder.c_str());
  SetEnvironmentVariableW(L"TMP", tempFolder.c_str());
  HKEY makerKey;
  const bool makerKeyExisted =
      RegOpenKeyExW(HKEY_CURRENT_USER, kMakerKey, 0, KEY_READ, &makerKey) == ERROR_SUCCESS;
  if (makerKeyExisted) RegCloseKey(makerKey);

  Totals totals;
  for (int i = 1; i < argc; ++i) {
    const std::wstring build = argv[i];
    const std::wstring folder = kit + L"\\" + build;
    const std::vector<std::wstring> programs = TestPrograms(folder);
    if (programs.empty()) {
      Print("[ FAILED  ] " + Utf8(build) + ": no test programs in " + Utf8(folder));
      ++totals.failed;
      continue;
    }
    // Decided once for the build: any error here means that the system
    // starts none of its programs, whatever the error's number (it differs
    // between Windows' versions, and Wine whose 32-bit loader cannot run says
    // 1359), and so does a process that ends without having run it, with
    // another code than it was given. One that runs and does not end is a
    // failure: the build's programs would not end either.
    const std::string buildName = Utf8(build);
    if (GetFileAttributesW((folder + L"\\can_start.exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
      Print("[ FAILED  ] " + buildName + ": no can_start.exe in " + Utf8(folder));
      ++totals.failed;
      continue;
    }
    DWORD startError = 0, doneCode = 0;
    const bool started = StartsDoingNothing(folder, &startError, &doneCode);
    if (!started || (doneCode != kCanStartCode && doneCode != STILL_ACTIVE)) {
      const std::string why = !started ? "error " + std::to_string(startError)
                                       : "its can_start.exe ended with code " + Hex(doneCode) +
                                             ", not the " + std::to_string(kCanStartCode) +
                                             " it was given";
      Print("[ SKIPPED ] " + buildName + ": this system cannot start " + buildName + " programs (" +
            why + "): NOT tested");
      ++totals.skipped;
      continue;
    }
    if (doneCode == STILL_ACTIVE) {
      Print("[ FAILED  ] " + buildName +
            ": its can_start.exe, which does nothing, did not end within a minute: NOT tested");
      ++totals.failed;
      continue;
    }
    for (const std::wstring& program : programs) {
      const std::wstring stem = program.substr(0, program.size() - 4);
      const std::string label = Utf8(build + L"/" + stem);
      Print("== " + label);
      ResultReader reader(label, &totals);
      const DWORD start = GetTickCount();
      if (!RunProgram(folder, program, &reader, &startError)) {
        Print("[ FAILED  ] " + label + ": cannot start (error " + std::to_string(startError) + ")");
        ++totals.failed;
        continue;
      }
      Print("   " + label + ": " + reader.Summary() + " in " +
            std::to_string((GetTickCount() - start + 500) / 1000) + " s");
    }
  }
  if (int left = RemoveLeftovers(makerKeyExisted, tempFolder)) {
    Print("[ FAILED  ] the tests left " + std::to_string(left) + " thing(s) behind (see above)");
    ++totals.failed;
  }

  std::string last =
      std::to_string(totals.passed) + " passed, " + std::to_string(totals.failed) + " failed";
  if (totals.skipped != 0) last += ", " + std::to_string(totals.skipped) + " skipped";
  Print(last);
  return totals.failed == 0 ? 0 : 1;
}
