// A program with the program's stack guard (app/stack_guard.c), linked
// without the load configuration that names it to the loader (see
// app/CMakeLists.txt), that does one of three things, named by its first
// argument:
//
//   stack_overrun overrun MARKER   overwrites a guarded frame of its own
//   stack_overrun fault MARKER     reads through a null pointer
//   stack_overrun guard MARKER     writes its guard into MARKER, as the guard
//                                  where no loader seeds it: only its own
//                                  start-up can have, as on Windows before 8
//
// Its vectored exception handler and its unhandled-exception filter each
// leave MARKER behind when they run: an overwritten frame must end the
// process before either does, and the plain fault shows that they do run.
#include <windows.h>

#include <stdint.h>
#include <string.h>

static const char* marker;

static LONG CALLBACK Vectored(EXCEPTION_POINTERS* exception) {
  (void)exception;
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return EXCEPTION_CONTINUE_SEARCH;
}

static LONG WINAPI Unhandled(EXCEPTION_POINTERS* exception) {
  Vectored(exception);  // leaves the marker too
  return EXCEPTION_EXECUTE_HANDLER;
}

// Read through volatile objects, so that the compiler can neither see the
// overrun coming nor check the copy against the buffer's size.
static void* (*volatile fill)(void*, int, size_t) = memset;
static volatile size_t beyond = 64;
static int* volatile nowhere = NULL;

// Guarded: a local array.
__attribute__((noinline)) static int OverwriteOwnFrame(void) {
  char buffer[16];
  fill(buffer, 'x', sizeof(buffer) + beyond);
  return buffer[3];
}

extern uintptr_t __stack_chk_guard;

// Ends with 3 where its header names a load configuration after all.
static int SaveGuard(void) {
  const BYTE* image = (const BYTE*)GetModuleHandleA(NULL);
  const IMAGE_NT_HEADERS* nt =
      (const IMAGE_NT_HEADERS*)(image + ((const IMAGE_DOS_HEADER*)image)->e_lfanew);
  if (nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG].VirtualAddress != 0) {
    return 3;
  }
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD written = 0;
  if (file == INVALID_HANDLE_VALUE) return 4;
  WriteFile(file, &__stack_chk_guard, sizeof(__stack_chk_guard), &written, NULL);
  CloseHandle(file);
  return written == sizeof(__stack_chk_guard) ? 0 : 4;
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  marker = argv[2];
  DeleteFileA(marker);
  AddVectoredExceptionHandler(1, Vectored);
  SetUnhandledExceptionFilter(Unhandled);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  if (strcmp(argv[1], "overrun") == 0) return OverwriteOwnFrame();
  if (strcmp(argv[1], "fault") == 0) return *nowhere;
  if (strcmp(argv[1], "guard") == 0) return SaveGuard();
  return 2;
}
