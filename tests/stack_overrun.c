/* A program with the program's stack guard (app/stack_guard.c) that ends in
 * one of two ways, named by its first argument:
 *
 *   stack_overrun overrun MARKER   overwrites a guarded frame of its own
 *   stack_overrun fault MARKER     reads through a null pointer
 *
 * Its vectored exception handler and its unhandled-exception filter each
 * leave MARKER behind when they run: an overwritten frame must end the
 * process before either does, and the plain fault shows that they do run. */
#include <windows.h>

#include <string.h>

static const char* marker;

static LONG CALLBACK Vectored(EXCEPTION_POINTERS* exception) {
  (void)exception;
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return EXCEPTION_CONTINUE_SEARCH;
}

static LONG WINAPI Unhandled(EXCEPTION_POINTERS* exception) {
  Vectored(exception); /* leaves the marker too */
  return EXCEPTION_EXECUTE_HANDLER;
}

/* Read through volatile objects, so that the compiler can neither see the
 * overrun coming nor check the copy against the buffer's size. */
static void* (*volatile fill)(void*, int, size_t) = memset;
static volatile size_t beyond = 64;
static int* volatile nowhere = NULL;

/* Guarded: a local array. */
__attribute__((noinline)) static int OverwriteOwnFrame(void) {
  char buffer[16];
  fill(buffer, 'x', sizeof(buffer) + beyond);
  return buffer[3];
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
  return 2;
}
