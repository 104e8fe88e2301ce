// Start-up hardening and the COM apartment.
#include "startup.h"

#include <windows.h>
#include <objbase.h>

void ProtectAgainstDllPlanting() {
  // Installers run this program from download and temporary folders, where
  // anyone may have left a DLL named like a system one (version.dll,
  // uxtheme.dll, ...). Everything loaded after this point, by us or by the
  // shell on our behalf, comes from the system directory only.
  // SetDefaultDllDirectories is looked up at run time: Windows 7 without
  // KB2533623 lacks it, and the program must still start there.
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

// File associations may be served by shell extensions, which the shell
// expects on a single-threaded apartment; OLE1 DDE is not wanted.
ComApartment::ComApartment()
    : initialized_(
          SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}

ComApartment::~ComApartment() {
  if (initialized_) CoUninitialize();
}
