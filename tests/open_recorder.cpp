// Stand-in for the handheld's desktop software in tests and the demo:
// registered as the "open" handler of a test file type, it records the file it
// was given. Its registered command line is
//   "...\open_recorder.exe" "<record folder>" "%1" <verb>
// The record folder comes on the command line, not through the environment:
// the handler's environment is that of whoever made the hand-over, and a
// handoff.exe that the Windows Installer service starts has the service's, not
// the test's.
//
// Each start leaves one file in the record folder, named so that a test can
// order the hand-overs as they were made: ShellExecute returns once it has
// created the handler's process, without waiting for it, so handlers may run
// and finish out of order. The name is the process's creation time, which
// follows the order of ShellExecute's calls, then a number that no other
// record of the folder has: the order in which the handlers took it, under a
// mutex they share. Windows keeps the creation time to a tick of its clock
// (up to 15.6 ms), and handlers created within one tick are told apart by
// that number alone. The file is written under a temporary name and then
// renamed, so a test never reads half a record. It holds three lines: the
// path as given on the wide command line, in UTF-8 (our own ANSI arguments
// could hold only the system code page); the verb, which the registration
// passes after the path; and the show command the shell started us with, -1
// when it gave none.
//
// A file whose text begins with '!' also tells the stand-in to misbehave after
// recording, as a faulty or racing tool would:
//   !crash                        crash with an access violation
//   !delete <path>                delete another file
//   !set <key>|<value>|<text>     write a REG_SZ value under HKEY_CURRENT_USER
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

// The folder as given, in any letters, then a name of ours, which is ASCII.
// False for a folder too long for it: no record, never a cut name.
bool PathIn(const wchar_t* folder, const char* name, wchar_t (&path)[MAX_PATH + 64]) {
  const size_t folderLength = wcslen(folder);
  if (folderLength == 0 || folderLength >= MAX_PATH) return false;
  wcscpy(path, folder);
  return MultiByteToWideChar(CP_ACP, 0, name, -1, path + folderLength, 64) != 0;
}

// The next number of the folder's records: the length of a file kept in it,
// which each recorder lengthens by one byte, under a mutex of all recorders
// (one that ended while holding it is waited for no longer).
bool TakeNumber(const wchar_t* folder, DWORD* number) {
  wchar_t countPath[MAX_PATH + 64];
  if (!PathIn(folder, "\\records.count", countPath)) return false;
  HANDLE mutex = CreateMutexW(NULL, FALSE, L"Local\\handoff-open-recorder");
  if (mutex == NULL) return false;
  const DWORD waited = WaitForSingleObject(mutex, 30000);
  bool taken = false;
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    HANDLE count = CreateFileW(countPath, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, 0, NULL,
                               OPEN_ALWAYS, 0, NULL);
    DWORD done = 0;
    taken = count != INVALID_HANDLE_VALUE &&
            (*number = GetFileSize(count, NULL)) != INVALID_FILE_SIZE &&
            WriteFile(count, "+", 1, &done, NULL) && done == 1;
    if (count != INVALID_HANDLE_VALUE) CloseHandle(count);
    ReleaseMutex(mutex);
  }
  CloseHandle(mutex);
  return taken;
}

bool Record(const wchar_t* folder, const wchar_t* given, const wchar_t* verb) {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  unsigned long long start =
      (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  DWORD number = 0;
  if (!TakeNumber(folder, &number)) return false;

  char partialName[32];
  char finalName[48];
  snprintf(partialName, sizeof(partialName), "\\%lu.part", GetCurrentProcessId());
  snprintf(finalName, sizeof(finalName), "\\%020llu-%010lu.rec", start, number);
  wchar_t partial[MAX_PATH + 64];
  wchar_t final[MAX_PATH + 64];
  if (!PathIn(folder, partialName, partial) || !PathIn(folder, finalName, final)) return false;

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
  char path[4096];
  char verbText[64];
  if (WideCharToMultiByte(CP_UTF8, 0, given, -1, path, sizeof(path), NULL, NULL) == 0 ||
      WideCharToMultiByte(CP_UTF8, 0, verb, -1, verbText, sizeof(verbText), NULL, NULL) == 0) {
    return false;
  }
  char text[sizeof(path) + sizeof(verbText) + 16];
  int textLength = snprintf(text, sizeof(text), "%s\n%s\n%d", path, verbText, show);

  HANDLE file = CreateFileW(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(textLength), &written, NULL);
  CloseHandle(file);
  return MoveFileW(partial, final) != FALSE;
}

LONG WINAPI EndWithTheExceptionCode(EXCEPTION_POINTERS* exception) {
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

void Misbehave(const wchar_t* given) {
  char text[2048];
  HANDLE file = CreateFileW(given, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD got = 0;
  ReadFile(file, text, sizeof(text) - 1, &got, NULL);
  CloseHandle(file);
  text[got] = '\0';
  if (strncmp(text, "!crash", 6) == 0) {
    SetErrorMode(SEM_NOGPFAULTERRORBOX);  // no crash dialog to wait for a person
    // The access violation ends the process with its code, past Windows Error
    // Reporting, which would keep a report of each crash.
    SetUnhandledExceptionFilter(EndWithTheExceptionCode);
    *static_cast<volatile int*>(nullptr) = 1;
  } else if (strncmp(text, "!delete ", 8) == 0) {
    DeleteFileA(text + 8);
  } else if (strncmp(text, "!set ", 5) == 0) {
    char* keyPath = text + 5;
    char* valueName = strchr(keyPath, '|');
    char* data = valueName != nullptr ? strchr(valueName + 1, '|') : nullptr;
    if (data == nullptr) return;
    *valueName++ = '\0';
    *data++ = '\0';
    RegSetKeyValueA(HKEY_CURRENT_USER, keyPath, valueName, REG_SZ, data,
                    static_cast<DWORD>(strlen(data) + 1));
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == NULL || argc < 3 || !Record(argv[1], argv[2], argc > 3 ? argv[3] : L"")) return 1;
  Misbehave(argv[2]);
  return 0;
}
