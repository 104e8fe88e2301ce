// Not part of the kit: starts a command as the test kit meets a session with
// no interactive desktop and an ordinary user, for ./x test's check of the
// kit's runner under Wine. The command runs on a window station of its own
// that has no visible display (no WSF_VISIBLE), as a service's does, with
// this user's token that is not elevated where the user's is (UAC's linked
// token: Wine gives its programs an elevated one). First this says whether it
// found the mouse buttons swapped, which a runner that ran before it must
// have put back, and leaves them swapped, as a run cut short does, for the
// runner it starts to put back. It ends with the command's exit code.
//
//   headless_start.exe PROGRAM [ARGUMENT...]
#include <windows.h>

#include <stdio.h>

#include <string>

#include "test_base.h"

// Says why it cannot go on, and ends with 2.
int Stop(const char* why, DWORD error) {
  fprintf(stderr, "headless_start: %s (error %lu)\n", why, error);
  return 2;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fputs("usage: headless_start PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  printf("headless_start: the mouse buttons were %s\n",
         GetSystemMetrics(SM_SWAPBUTTON) ? "swapped" : "not swapped");
  fflush(stdout);
  SwapMouseButton(TRUE);

  HWINSTA station;
  if (CreateUnseenDesktop(L"handoff-headless", &station) == NULL) {
    return Stop("no window station of its own", GetLastError());
  }

  HANDLE token = NULL, limited = NULL;
  TOKEN_ELEVATION elevation = {};
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
      elevation.TokenIsElevated &&
      (!GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &size) ||
       !DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, NULL, SecurityImpersonation,
                         TokenPrimary, &limited))) {
    return Stop("no token that is not elevated", GetLastError());
  }

  // The arguments as given, those with spaces quoted (cmd takes no quoted /c).
  std::wstring command;
  for (int i = 1; i < argc; ++i) {
    const bool quoted = wcschr(argv[i], L' ') != NULL;
    command += (i > 1 ? L" " : L"") + std::wstring(quoted ? L"\"" : L"") + argv[i] +
               (quoted ? L"\"" : L"");
  }
  // In a job, with which all it starts ends, after a time limit.
  ChildOptions options;
  options.desktop = L"handoff-headless\\Default";
  options.token = limited;
  options.inJob = true;
  ChildProcess child;
  if (!child.Start(command, options)) return Stop("cannot start it", child.error());
  DWORD exitCode = 2;
  // Ended with the object when it does not end in time.
  if (!child.WaitForExit(10 * 60 * 1000, &exitCode)) {
    fputs("headless_start: still running after 10 minutes: ended\n", stderr);
  }
  return static_cast<int>(exitCode);
}
