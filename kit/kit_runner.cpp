// The test kit's runner: runs every test program (*_test.exe) of the kit's
// build folders named on its command line, prints each test's result on a
// line as it comes, and ends with the totals, "N passed, N failed" and
// ", N skipped" when some were. It returns 0 only when nothing failed.
//
//   kit_runner.exe [--require-all] [BUILD...]
//
// BUILD is a folder beside the runner's own, i686 and x86_64 when none is
// named. Its first line says where it runs: the system, whether the kit runs
// elevated, and whether this session has an interactive desktop.
//
// Each program runs in a job of its own, with a time limit; a process it
// leaves running is ended with the job. Whether this system can start the
// programs of a build at all is decided once, by its can_start.exe, which does
// nothing: where that cannot be started (a 64-bit build on 32-bit Windows, or
// on Windows 10 on ARM; 32-bit programs where the system runs none), the build
// is reported as not tested and counted as skipped. Once it starts, a test
// program that does not start is a failure. The tests that drive windows as a
// person does (kDesktopTests) need an interactive desktop: where the session
// has none, as a service's or a headless machine's, they are reported as not
// run, each counted as skipped. --require-all makes each of those two a
// failure instead, for a run that must test everything it was given.
//
// The tests' temporary files go into a folder of the kit's own. What a test
// run may leave when it is cut short (store keys and file types of the tests'
// own names, files of the tests' names in that folder) is looked for
// afterwards, reported as a failure and removed; what other programs put in
// that folder is only noted. The mouse buttons, which the click tests swap
// for the whole session, are put back as the user has them at the start and
// at the end.
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "test_base.h"

namespace {

const DWORD kProgramTimeoutMs = 15 * 60 * 1000;

struct Totals {
  int passed = 0;
  int failed = 0;
  int skipped = 0;
};

std::string Summary(const Totals& totals) {
  std::string summary =
      std::to_string(totals.passed) + " passed, " + std::to_string(totals.failed) + " failed";
  if (totals.skipped != 0) summary += ", " + std::to_string(totals.skipped) + " skipped";
  return summary;
}

// One line of UTF-8 to standard output: as letters to a console, as bytes
// to a file or pipe.
void Print(const std::string& line) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode, written;
  const std::string text = line + "\r\n";
  if (!GetConsoleMode(out, &mode)) {
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    return;
  }
  std::wstring wide(text.size(), L'\0');
  WriteConsoleW(out, wide.data(),
                MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    &wide[0], static_cast<int>(wide.size())),
                &written, NULL);
}

// Prints a result line that starts with its marker, and counts it.
void Count(const char* marker, const std::string& text, int Totals::*count, Totals* totals) {
  Print(marker + text);
  ++(totals->*count);
}

const char kFailed[] = "[ FAILED  ] ";

// How a program's run went: whether it started, its exit code (or, when it
// did not start, CreateProcess's error), and why it was ended when it was.
struct Run {
  bool started;
  DWORD code;
  std::string how;
};

// Follows one program's output, line by line. Result lines are only those of
// the test that is running: a program that a test starts in turn (another
// test program) may write its own into the same output.
class ResultReader {
 public:
  ResultReader(const std::string& label, Totals* totals) : label_(label), totals_(totals) {}

  void Line(const std::string& line) {
    if (running_.empty()) {
      if (line.rfind("[ RUN      ] ", 0) == 0) running_ = line.substr(13);
      return;
    }
    // gtest's marker, the name, then the time or, for a parameterized test
    // that failed, its parameter; what the test said is told when it did not
    // pass: why it failed, or why it was skipped.
    static const struct {
      const char* gtest;
      const char* ours;
      int Totals::*count;
    } kResults[] = {{"[       OK ] ", "[ PASSED  ] ", &Totals::passed},
                    {"[  FAILED  ] ", kFailed, &Totals::failed},
                    {"[  SKIPPED ] ", "[ SKIPPED ] ", &Totals::skipped}};
    for (const auto& result : kResults) {
      const std::string start = result.gtest + running_;
      if (line.rfind(start + " ", 0) == 0 || line.rfind(start + ",", 0) == 0) {
        Finish(result.ours, " " + line.substr(13), result.count);
        return;
      }
    }
    told_.push_back(line);
  }

  // After the program's run: its totals, and how long it ran.
  void End(const Run& run) {
    const std::string why =
        run.how.empty() ? "ended with code " + std::to_string(run.code) : run.how;
    if (!run.started) {
      Finish(kFailed, ": cannot start (error " + std::to_string(run.code) + ")", &Totals::failed);
    } else if (!running_.empty()) {
      told_.push_back("(" + why + " before this test ended)");
      Finish(kFailed, " " + running_, &Totals::failed);
    } else if (!run.how.empty() || (run.code != 0 && own_.failed == 0)) {
      Finish(kFailed, ": " + why, &Totals::failed);
    } else if (own_.passed + own_.failed + own_.skipped == 0) {
      Finish(kFailed, ": ran no test", &Totals::failed);
    }
    Print("   " + label_ + ": " + Summary(own_) + " in " +
          std::to_string((GetTickCount() - start_ + 500) / 1000) + " s");
  }

 private:
  void Finish(const char* marker, const std::string& rest, int Totals::*count) {
    Count(marker, label_ + rest, count, totals_);
    if (count != &Totals::passed) {
      for (const std::string& line : told_) Print("      " + line);
    }
    running_.clear();
    told_.clear();
    ++(own_.*count);
  }

  std::string label_;
  Totals* totals_;
  const DWORD start_ = GetTickCount();
  Totals own_;
  std::string running_;
  std::vector<std::string> told_;
};

// Runs a program of the folder with these arguments, in that folder, handing
// each line of its output to `line` as it comes, and ends it after timeoutMs.
Run RunProgram(const std::wstring& folder, const std::wstring& name, const std::wstring& arguments,
               DWORD timeoutMs, const std::function<void(const std::string&)>& line) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {false, GetLastError(), ""};
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, NULL);
  ChildOptions options;
  options.folder = folder.c_str();
  options.input = input;
  options.output = writeEnd;
  options.inJob = true;
  ChildProcess child;
  const bool started = child.Start(L"\"" + folder + L"\\" + name + L"\" " + arguments, options);
  Run run = {started, started ? 1 : child.error(), ""};
  CloseHandle(writeEnd);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);

  // Read what has come until the program ends, and once more after for its
  // last words; not until the pipe closes, which a process the program
  // started and that outlives it may hold open. One that did not start ends
  // here.
  std::string pending;
  const DWORD start = GetTickCount();
  for (bool ended = !started; !ended;) {
    ended = child.WaitForExit(20, &run.code);
    if (!ended && GetTickCount() - start > timeoutMs) {
      run.how = "still running after " + std::to_string(timeoutMs / 60000) + " minutes: ended";
      child.End();
      ended = true;
    }
    DWORD available = 0, got = 0;
    char buffer[4096];
    while (PeekNamedPipe(readEnd, NULL, 0, NULL, &available, NULL) && available > 0 &&
           ReadFile(readEnd, buffer, std::min<DWORD>(available, sizeof(buffer)), &got, NULL)) {
      pending.append(buffer, got);
    }
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      std::string text = pending.substr(0, end);
      if (!text.empty() && text.back() == '\r') text.pop_back();
      line(text);
    }
  }
  if (!pending.empty()) line(pending);
  CloseHandle(readEnd);

  // What the program started and left running is ended with its job.
  if (DWORD left = child.LeftInJob(5000)) {
    Print("      (" + std::to_string(left) + " process(es) it started still running: ended)");
  }
  return run;
}

// What can_start.exe is told to end with: a code that no process ends with
// unless it ran.
const DWORD kCanStartCode = 20151;

// ---- What a cut-short test run may leave ----

const wchar_t kMakerKey[] = L"Software\\Varnolt";

// Removes the subkeys of root\path whose names start with one of these
// prefixes, each reported as left; returns how many there were.
int RemoveSubkeys(HKEY root, const std::wstring& rootName, const std::wstring& path,
                  std::initializer_list<const wchar_t*> prefixes) {
  std::vector<std::wstring> found;
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  wchar_t name[256];
  for (DWORD index = 0, length = 256;
       RegEnumKeyExW(key, index, name, &length, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
       ++index, length = 256) {
    // The prefixes given share no start, so a name matches one at most.
    for (const wchar_t* prefix : prefixes) {
      if (_wcsnicmp(name, prefix, wcslen(prefix)) == 0) found.push_back(name);
    }
  }
  RegCloseKey(key);
  for (const std::wstring& subkey : found) {
    const std::wstring subkeyPath = path.empty() ? subkey : path + L"\\" + subkey;
    Print("      left: " + Utf8(rootName + L"\\" + subkeyPath) + " (removed now)");
    DeleteKeyTree(root, subkeyPath);
  }
  return static_cast<int>(found.size());
}

// The tests' store keys (handoff-test-...) and file types (.hoff... and
// .nohandler..., and HandoffTest.... ProgIDs, in the user's classes on
// Windows and in the classes root under Wine, where test_support.cpp puts
// them), and the files of their names in their temporary folder: each test
// removes its own, so what is found was left by one cut short. The folder
// goes too, unless another program holds something in it.
int RemoveLeftovers(bool makerKeyExisted, const std::wstring& tempFolder) {
  int left = RemoveSubkeys(HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", kMakerKey, {L"handoff-test-"});
  // The tests' keys made the maker's key; it goes with them, unless a key of
  // another's is in it now (RegDeleteKey removes no key that has subkeys).
  if (!makerKeyExisted) RegDeleteKeyW(HKEY_CURRENT_USER, kMakerKey);
  const auto types = {L".hoff", L".nohandler", L"HandoffTest."};
  left += RunningUnderWine()
              ? RemoveSubkeys(HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT", L"", types)
              : RemoveSubkeys(HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", L"Software\\Classes", types);
  left += RemoveSubkeys(HKEY_CURRENT_USER, L"HKEY_CURRENT_USER",
                        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts", types);
  // In the temporary folder, the tests name all they make handoff-...
  // (test_support.cpp and the tests). Anything else there another program put
  // or holds: an antivirus, the indexer, a policy that logs each Windows
  // Installer run to MSI*.LOG in %TEMP%. That is noted and removed where it
  // can be, and fails nothing.
  for (const auto& [name, isFolder] : FolderEntries(tempFolder)) {
    const std::wstring path = tempFolder + L"\\" + name;
    if (isFolder) {
      RemoveFolderTree(path);
    } else {
      DeleteFileW(path.c_str());
    }
    const bool removed = GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (_wcsnicmp(name.c_str(), L"handoff-", 8) == 0) {
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

// Where this runs, for whoever reads the output, and whether the kit runs
// elevated: with an administrator's full token, as where UAC is off
// (GitHub's hosted runners) or the console was started "as administrator".
// An ordinary user's process, and an administrator's under UAC, runs with a
// token that is not.
std::string Platform() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto getVersion = reinterpret_cast<LONG(WINAPI*)(OSVERSIONINFOW*)>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  auto wineVersion = reinterpret_cast<const char*(CDECL*)()>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (getVersion != nullptr) getVersion(&version);
  HDC screen = GetDC(NULL);
  int dpi = screen != NULL ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != NULL) ReleaseDC(NULL, screen);
  HANDLE token = NULL;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const bool known =
      OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  if (token != NULL) CloseHandle(token);
  std::string text = "Windows " + std::to_string(version.dwMajorVersion) + "." +
                     std::to_string(version.dwMinorVersion) + "." +
                     std::to_string(version.dwBuildNumber);
  if (wineVersion != nullptr) text = "Wine " + std::string(wineVersion()) + " as " + text;
  text += ", code page " + std::to_string(GetACP()) + ", screen at " + std::to_string(dpi) + " dpi";
  if (!known) return text + ", elevation unknown";
  return text + (elevation.TokenIsElevated != 0 ? ", elevated" : ", not elevated");
}

// Why this session cannot show the tests' windows and take their keys and
// clicks, or "" when it can. Only the interactive window station, WinSta0,
// marked as one with a visible display (WSF_VISIBLE), does, and there only
// its input desktop, which cannot be opened while the screen is locked or
// the secure desktop shows. A service's window station is none of these.
std::string NoInteractiveDesktop() {
  HWINSTA station = GetProcessWindowStation();
  wchar_t name[256] = L"";
  USEROBJECTFLAGS flags = {};
  DWORD size = 0;
  if (station == NULL || !GetUserObjectInformationW(station, UOI_NAME, name, sizeof(name), &size) ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &size)) {
    return "its window station cannot be read (error " + std::to_string(GetLastError()) + ")";
  }
  if (_wcsicmp(name, L"WinSta0") != 0 || (flags.dwFlags & WSF_VISIBLE) == 0) {
    return "its window station, " + Utf8(name) + ", is not the interactive one";
  }
  HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
  if (input == NULL) {
    return "its input desktop cannot be opened (error " + std::to_string(GetLastError()) +
           "): is the screen locked?";
  }
  CloseDesktop(input);
  return "";
}

// Puts the mouse buttons back as this user has set them (the saved
// Control Panel setting), and says so when they were not. The click tests
// swap them with SwapMouseButton, which acts at once on the whole session
// and is saved nowhere: a run cut short in such a test leaves them swapped
// for whoever uses the machine next.
void RestoreMouseButtons(const char* when) {
  wchar_t setting[8] = L"0";
  DWORD size = sizeof(setting);
  RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Mouse", L"SwapMouseButtons", RRF_RT_REG_SZ, NULL,
               setting, &size);
  const bool swapped = wcscmp(setting, L"1") == 0;
  if ((SwapMouseButton(swapped) != FALSE) != swapped) {
    Print(std::string("      note: the mouse buttons were ") +
          (swapped ? "not swapped " : "swapped ") + when +
          ", unlike this user's setting: put back");
  }
}

// The tests that need an interactive desktop: they press keys and click by
// SendInput into windows they bring to the foreground, which only the input
// desktop of an interactive session takes. Each is a program and a gtest
// filter of its tests. The last is not the kit's: it is the program by which
// ./x test checks this runner (runner_check_test.cpp).
const struct {
  const wchar_t* program;
  const wchar_t* filter;
} kDesktopTests[] = {{L"window_test.exe", L"*"},
                     {L"installer_test.exe", L"*"},
                     {L"runner_check_test.exe", L"RunnerCheck.NeedsTheDesktop"}};

// The names, as Suite.Test, of the program's tests that the filter selects,
// from the program's own list: a line for each suite ("Suite." and perhaps a
// comment), then one for each of its tests, indented by two spaces ("Test"
// and perhaps a comment on its parameter).
std::vector<std::string> ListTests(const std::wstring& folder, const std::wstring& program,
                                   const std::wstring& filter) {
  std::vector<std::string> names;
  std::string suite;
  RunProgram(folder, program, L"--gtest_list_tests --gtest_filter=" + filter, kProgramTimeoutMs,
             [&](const std::string& line) {
               if (line.rfind("  ", 0) == 0) {
                 names.push_back(suite + line.substr(2, line.find(' ', 2) - 2));
               } else if (!line.empty() && line[0] != ' ') {
                 suite = line.substr(0, line.find(' '));
               }
             });
  return names;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Measured in real pixels, as the tests measure windows.
  SetProcessDPIAware();
  // No error box of the system's for a program that cannot start.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  std::vector<std::wstring> builds(argv + 1, argv + argc);
  const auto flags = std::remove(builds.begin(), builds.end(), L"--require-all");
  const bool requireAll = flags != builds.end();
  builds.erase(flags, builds.end());
  if (std::any_of(builds.begin(), builds.end(),
                  [](const std::wstring& b) { return b[0] == L'-'; })) {
    Print("usage: kit_runner [--require-all] [BUILD...]   (the kit's build folders: i686 x86_64)");
    return 2;
  }
  if (builds.empty()) builds = {L"i686", L"x86_64"};
  wchar_t runner[MAX_PATH];
  const std::wstring runnerPath(runner, GetModuleFileNameW(NULL, runner, MAX_PATH));
  const std::wstring runnerFolder = runnerPath.substr(0, runnerPath.find_last_of(L'\\'));
  const std::wstring kit = runnerFolder.substr(0, runnerFolder.find_last_of(L'\\'));
  const std::string noDesktop = NoInteractiveDesktop();
  Print("handoff " HANDOFF_VERSION " test kit, on " + Platform() + ", " +
        (noDesktop.empty()
             ? "interactive desktop"
             : "NO interactive desktop (" + noDesktop + "): the tests that need one are NOT RUN"));
  RestoreMouseButtons("at the start");
  // The tests take the paths of their programs and files in the system's code
  // page and as UTF-8 alike, which agree on ASCII only.
  if (std::any_of(kit.begin(), kit.end(), [](wchar_t c) { return c < 0x20 || c > 0x7e; })) {
    Print("[ FAILED  ] the kit's folder, " + Utf8(kit) +
          ", has letters outside ASCII: unpack it into one such as C:\\handoff-tests");
    Print("0 passed, 1 failed");
    return 1;
  }
  // The tests' temporary files go into a folder of the kit's own, below an
  // ASCII path whatever the user's name, and it goes at the end.
  const std::wstring tempFolder = kit + L"\\temp";
  RemoveFolderTree(tempFolder);
  CreateDirectoryW(tempFolder.c_str(), NULL);
  for (const wchar_t* name : {L"TEMP", L"TMP"}) SetEnvironmentVariableW(name, tempFolder.c_str());
  HKEY makerKey;
  const bool makerKeyExisted =
      RegOpenKeyExW(HKEY_CURRENT_USER, kMakerKey, 0, KEY_READ, &makerKey) == ERROR_SUCCESS;
  if (makerKeyExisted) RegCloseKey(makerKey);

  Totals totals;
  auto fail = [&totals](const std::string& what) {
    Count(kFailed, what, &Totals::failed, &totals);
  };
  // What cannot run here: skipped, or a failure where everything must run.
  auto notRun = [&](const std::string& what) {
    if (requireAll) return fail(what + " (--require-all)");
    Count("[ SKIPPED ] ", what, &Totals::skipped, &totals);
  };
  for (const std::wstring& build : builds) {
    const std::wstring folder = kit + L"\\" + build;
    const std::string buildName = Utf8(build);
    const auto programs = FolderEntries(folder, L"*_test.exe");
    if (programs.empty() ||
        GetFileAttributesW((folder + L"\\can_start.exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
      fail(buildName + ": no test programs, or no can_start.exe, in " + Utf8(folder));
      continue;
    }
    // Decided once for the build: any error here means that the system
    // starts none of its programs, whatever the error's number (it differs
    // between Windows' versions, and Wine whose 32-bit loader cannot run says
    // 1359), and so does a process that ends without having run it, with
    // another code than it was given. One that runs and does not end is a
    // failure: the build's programs would not end either.
    const Run probe = RunProgram(folder, L"can_start.exe", std::to_wstring(kCanStartCode), 60000,
                                 [](const std::string&) {});
    if (!probe.how.empty()) {
      fail(buildName +
           ": its can_start.exe, which does nothing, did not end within a minute: NOT tested");
      continue;
    }
    if (!probe.started || probe.code != kCanStartCode) {
      char why[96];
      snprintf(why, sizeof(why),
               "its can_start.exe ended with code 0x%08lx, not the %lu it was given", probe.code,
               kCanStartCode);
      notRun(buildName + ": this system cannot start " + buildName + " programs (" +
             (probe.started ? why : "error " + std::to_string(probe.code)) + "): NOT tested");
      continue;
    }
    for (const auto& [program, isFolder] : programs) {
      const std::string label = Utf8(build + L"/" + program.substr(0, program.size() - 4));
      Print("== " + label);
      // Without an interactive desktop, the tests that need one are named
      // and not run, and the others run.
      std::wstring arguments;
      for (const auto& tests : kDesktopTests) {
        if (noDesktop.empty() || _wcsicmp(program.c_str(), tests.program) != 0) continue;
        const auto names = ListTests(folder, program, tests.filter);
        if (names.empty()) fail(label + ": lists no test for " + Utf8(tests.filter));
        for (const std::string& name : names) {
          notRun(label + " " + name + ": NOT RUN: it needs an interactive desktop");
        }
        arguments = L"--gtest_filter=-" + std::wstring(tests.filter);
      }
      // One that needs the desktop for all its tests has none left to run.
      if (arguments == L"--gtest_filter=-*") continue;
      ResultReader reader(label, &totals);
      reader.End(RunProgram(folder, program, L"--gtest_color=no " + arguments, kProgramTimeoutMs,
                            [&reader](const std::string& line) { reader.Line(line); }));
    }
  }
  if (int left = RemoveLeftovers(makerKeyExisted, tempFolder)) {
    fail("the tests left " + std::to_string(left) + " thing(s) behind (see above)");
  }
  RestoreMouseButtons("after the tests");
  Print(Summary(totals));
  return totals.failed == 0 ? 0 : 1;
}
