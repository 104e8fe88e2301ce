/* Windows' own DLLs from System32 only, and the loader of the DLLs whose
 * import is deferred to their first call (see cmake/delay_import.cmake). */
#include "system_library.h"

#include <delayimp.h>

/* The image the linker is making; its delay-load descriptors hold addresses
 * relative to it. */
extern IMAGE_DOS_HEADER __ImageBase;

HMODULE LoadSystemLibrary(const char* name) {
  HMODULE module = LoadLibraryExA(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != NULL || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  /* Windows 7 without KB2533623 knows no search flags: name the file in full. */
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  int nameLength = lstrlenA(name);
  if (length == 0 || length + 1 + (UINT)nameLength >= MAX_PATH) return NULL;
  path[length] = '\\';
  lstrcpynA(path + length + 1, name, (int)(MAX_PATH - length - 1));
  return LoadLibraryA(path);
}

/* The first call of a deferred function lands here, from the thunk that the
 * import library made for it: load its DLL from System32, find the function,
 * and put it in the import address table for every later call. The DLLs are
 * Windows' own; where one or its function cannot be had, the program ends as
 * Windows ends a program whose imports cannot be resolved at start, rather
 * than call into nothing. */
FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* entry) {
  const BYTE* base = (const BYTE*)&__ImageBase;
  HMODULE* handle = (HMODULE*)(base + descriptor->rvaHmod);
  const IMAGE_THUNK_DATA* names = (const IMAGE_THUNK_DATA*)(base + descriptor->rvaINT);
  FARPROC* table = (FARPROC*)(base + descriptor->rvaIAT);
  if (*handle == NULL) *handle = LoadSystemLibrary((const char*)(base + descriptor->rvaDLLName));
  const IMAGE_THUNK_DATA* name = names + (entry - table);
  FARPROC function = NULL;
  if (*handle != NULL) {
    const char* symbol =
        IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)
            ? (const char*)(ULONG_PTR)IMAGE_ORDINAL(name->u1.Ordinal)
            : (const char*)((const IMAGE_IMPORT_BY_NAME*)(base + name->u1.AddressOfData))->Name;
    function = GetProcAddress(*handle, symbol);
  }
  if (function == NULL) {
    FatalAppExitA(0, "A part of Windows that this program needs is missing.");
  }
  *entry = function;
  return function;
}
