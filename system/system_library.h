// Windows' own DLLs, loaded from System32 only: never from the program's
// folder or the current one, where an installer's download folder may hold a
// DLL that someone left there under a system name.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Loads a DLL of Windows from System32 only; NULL when it cannot be had. A
// bare name still goes through the side-by-side redirection that the
// program's manifest asks for (Common Controls 6).
HMODULE LoadSystemLibrary(const char* name);

#ifdef __cplusplus
}
#endif
