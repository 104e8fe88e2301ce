// Start-up hardening, the unattended check and the COM apartment.
#include "startup.h"

#include <objbase.h>

namespace {

bool comEntered = false;

}  // namespace

void ProtectAgainstDllPlanting() {
  // Installers run this program from download and temporary folders, where
  // anyone may have left a DLL named like a system one (version.dll,
  // uxtheme.dll, ...). Everything loaded after this point, by us or by the
  // shell on our behalf, comes from the system directory only. (What loads
  // before this point is held to System32 by the image's load configuration,
  // stack_guard.c.) SetDefaultDllDirectories is looked up at run time:
  // Windows 7 without KB2533623 lacks it, and the program must still start
  // there.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  SetDefaultDllDirectoriesFn setDefaultDllDirectories =
      kernel32 == NULL ? nullptr
                       : reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                             GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories != nullptr) {
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  // Where the call is missing, at least take the current folder out of the search.
  SetDllDirectoryA("");
}

bool PromptWouldHangTheInstall() {
  // Since Windows Vista, session 0 holds services and no user's desktop.
  DWORD session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) return true;
  // What cannot be read is taken as visible: the prompt is shown as always.
  USEROBJECTFLAGS flags = {};
  return GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                   NULL) &&
         (flags.dwFlags & WSF_VISIBLE) == 0;
}

void EnterComApartment() {
  // OLE1 DDE is not wanted. A thread that is already in an apartment keeps
  // it, and there is nothing to leave.
  if (!comEntered) {
    comEntered = SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  }
}

void LeaveComApartment() {
  if (comEntered) CoUninitialize();
  comEntered = false;
}
