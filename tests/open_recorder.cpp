// Stand-in for the handheld's desktop software in tests and the demo:
// registered as the "open" handler of a test file type, it records the file it
// was given.
//
// Each start leaves one file in the folder named by HANDOFF_RECORD, named by
// the process's start time so that a test can order the hand-overs as they
// were made: ShellExecute returns without waiting, so handlers may finish out
// of order. The file is written under a temporary name and then renamed, so a
// test never reads half a record.
//
// A file whose text begins with '!' also tells the stand-in to misbehave after
// recording, as a faulty or racing tool would:
//   !crash                        crash with an access violation
//   !delete <path>                delete another file
//   !set <key>|<value>|<text>     write a REG_SZ value under HKEY_CURRENT_USER
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

bool Record(const char* given) {
  char folder[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("HANDOFF_RECORD", folder, sizeof(folder));
  if (length == 0 || length >= sizeof(folder)) return false;

  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  unsigned long long start =
      (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;

  char partial[MAX_PATH + 64];
  char final[MAX_PATH + 64];
  snprintf(partial, sizeof(partial), "%s\\%lu.part", folder, GetCurrentProcessId());
  snprintf(final, sizeof(final), "%s\\%020llu-%010lu.rec", folder, start, GetCurrentProcessId());

  HANDLE file = CreateFileA(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, given, static_cast<DWORD>(strlen(given)), &written, NULL);
  CloseHandle(file);
  return MoveFileA(partial, final) != FALSE;
}

void Misbehave(const char* given) {
  char text[2048];
  HANDLE file = CreateFileA(given, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD got = 0;
  ReadFile(file, text, sizeof(text) - 1, &got, NULL);
  CloseHandle(file);
  text[got] = '\0';
  if (strncmp(text, "!crash", 6) == 0) {
    SetErrorMode(SEM_NOGPFAULTERRORBOX);  // no crash dialog to wait for a person
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
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                     static_cast<DWORD>(strlen(data) + 1));
      RegCloseKey(key);
    }
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc < 2 || !Record(__argv[1])) return 1;
  Misbehave(__argv[1]);
  return 0;
}
