// Stand-in for the handheld's desktop software in tests: registered as the
// "open" handler of a test file type, it records the file it was given.
//
// Each start leaves one file in the folder named by HANDOFF_RECORD, named by
// the process's start time so that a test can order the hand-overs as they
// were made: ShellExecute returns without waiting, so handlers may finish out
// of order. The file is written under a temporary name and then renamed, so a
// test never reads half a record.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char folder[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("HANDOFF_RECORD", folder, sizeof(folder));
  if (length == 0 || length >= sizeof(folder) || __argc < 2) return 1;

  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  unsigned long long start =
      (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;

  char partial[MAX_PATH + 64];
  char final[MAX_PATH + 64];
  snprintf(partial, sizeof(partial), "%s\\%lu.part", folder, GetCurrentProcessId());
  snprintf(final, sizeof(final), "%s\\%020llu-%010lu.rec", folder, start, GetCurrentProcessId());

  HANDLE file = CreateFileA(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, __argv[1], static_cast<DWORD>(strlen(__argv[1])), &written, NULL);
  CloseHandle(file);
  return MoveFileA(partial, final) ? 0 : 1;
}
