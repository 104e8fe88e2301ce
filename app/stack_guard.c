/* The stack guard and the image's load configuration, which Windows reads
 * before any of the program's code runs.
 *
 * Two attacks are closed here, both before WinMain could close them:
 *
 * - A DLL planted beside the program under the name of one it imports. The
 *   installers that run this program run it from download and temporary
 *   folders, which anyone may write to. DependentLoadFlags tells Windows 10
 *   1607 and later to resolve the program's static imports from System32
 *   only; and the program imports nothing but DLLs that Windows always takes
 *   from its KnownDLLs (the rest is loaded later, from System32 only).
 *
 * - A stack overwrite that goes unnoticed. The compiler guards each frame
 *   with a copy of __stack_chk_guard. GCC's own runtime seeds that value
 *   from a crypto provider, which it loads, with the DLLs the provider
 *   needs, under the default search order (the program's folder first)
 *   before WinMain runs. Instead the guard is the image's security cookie:
 *   the Windows loader (Windows 8 and later, and Wine) fills a cookie that
 *   holds the documented default with a random value as it maps the image,
 *   and where it did not, the guard is seeded here as the Microsoft C
 *   runtime seeds its own, before any guarded frame is entered.
 *
 * This file is built without the stack protector: its seeding runs while
 * the guard changes. */
#include <windows.h>

#include <stdint.h>

#ifdef _WIN64
#define DEFAULT_SECURITY_COOKIE 0x00002B992DDFA232ull
typedef IMAGE_LOAD_CONFIG_DIRECTORY64 LoadConfig;
#else
#define DEFAULT_SECURITY_COOKIE 0xBB40E64Eul
typedef IMAGE_LOAD_CONFIG_DIRECTORY32 LoadConfig;
#endif

/* Read by every guarded frame of the program. */
uintptr_t __stack_chk_guard = (uintptr_t)DEFAULT_SECURITY_COOKIE;

/* GNU ld points the header's load-configuration directory at this symbol.
 * Reserved1 is the field that Microsoft's headers name DependentLoadFlags. */
const LoadConfig _load_config_used = {
    .Size = sizeof(LoadConfig),
    .Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32,
    .SecurityCookie = (uintptr_t)&__stack_chk_guard,
};

/* An overwritten frame ends the process at once, as Windows ends a program
 * built by Microsoft's compiler: no handler of the process gets to run on a
 * corrupted stack. */
__attribute__((noreturn)) static void FailFast(void) {
  if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
  }
  TerminateProcess(GetCurrentProcess(), (UINT)STATUS_STACK_BUFFER_OVERRUN);
  for (;;) {
  }
}

/* The compiler's call when a guard no longer matches, and the checked copies'
 * call when a copy would overrun its buffer. Defined here, they keep GCC's
 * runtime, and its crypto provider, out of the program. */
void __stack_chk_fail(void) {
  FailFast();
}

void __chk_fail(void) {
  FailFast();
}

/* Runs with the C runtime's constructors, before WinMain and before any
 * guarded frame of ours. Where the loader left the default, the seed mixes
 * the time, the process and thread ids, the performance counter and the
 * stack's address, as the Microsoft C runtime does. */
__attribute__((constructor)) static void SeedStackGuard(void) {
  if (__stack_chk_guard != (uintptr_t)DEFAULT_SECURITY_COOKIE) return;
  FILETIME time;
  LARGE_INTEGER counter;
  GetSystemTimeAsFileTime(&time);
  QueryPerformanceCounter(&counter);
  uint64_t seed = ((uint64_t)time.dwHighDateTime << 32) | time.dwLowDateTime;
  seed ^= (uint64_t)GetCurrentProcessId() << 16;
  seed ^= (uint64_t)GetCurrentThreadId();
  seed ^= (uint64_t)counter.QuadPart << 32 ^ (uint64_t)counter.QuadPart;
  seed ^= (uint64_t)(uintptr_t)&seed;
#ifdef _WIN64
  /* The top 16 bits stay clear, as in Windows' own cookies. */
  uintptr_t guard = (uintptr_t)(seed & 0x0000FFFFFFFFFFFFull);
#else
  uintptr_t guard = (uintptr_t)(seed ^ seed >> 32);
#endif
  if (guard == (uintptr_t)DEFAULT_SECURITY_COOKIE || guard == 0) guard ^= 0x4711;
  __stack_chk_guard = guard;
}
