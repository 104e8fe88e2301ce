// Run-overhead benchmark: ScheduleRun over 10,000 empty entries, so that every
// registry read is real and no shell call is made, against a plain loop that
// reads the same values with RegOpenKeyExA, RegQueryValueExA and RegCloseKey.
// Both run in this process, in turns, timed with QueryPerformanceCounter.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "schedule.h"

namespace {

const int kRuns = 15;
const DWORD kEntries = 10000;

// Reads the list as the run does, value names and buffers alike, and hands
// nothing on. Returns the number of entries read.
int PlainRead(const char* subkey) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
  DWORD count = 0;
  DWORD size = sizeof(count);
  RegQueryValueExA(key, "inscount", NULL, NULL, reinterpret_cast<BYTE*>(&count), &size);
  char valueName[1024];
  char entry[1024];
  int read = 0;
  for (int i = 0; i < static_cast<int>(count); ++i) {
    // Named as the run names them, so that both loops do the same work.
    memcpy(valueName, "ins", 3);
    _itoa(i, valueName + 3, 10);
    DWORD got = sizeof(entry) - 1;
    if (RegQueryValueExA(key, valueName, NULL, NULL, reinterpret_cast<BYTE*>(entry), &got) ==
        ERROR_SUCCESS) {
      ++read;
    }
  }
  RegCloseKey(key);
  return read;
}

bool WriteEmptyList(const std::string& subkey) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                      NULL) != ERROR_SUCCESS) {
    return false;
  }
  DWORD count = kEntries;
  bool written =
      RegSetValueExA(key, "inscount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                     sizeof(count)) == ERROR_SUCCESS;
  char valueName[32];
  for (DWORD i = 0; i < kEntries && written; ++i) {
    snprintf(valueName, sizeof(valueName), "ins%lu", i);
    written = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1) ==
              ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return written;
}

int Measure(char* storeName, const std::string& subkey) {
  // A real top-level window, hidden, as the prompt is the run's owner.
  HWND owner = CreateWindowExA(0, "STATIC", "run overhead", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                               NULL, NULL, GetModuleHandleA(NULL), NULL);
  if (owner == NULL) {
    ReportFailure("no owner window: is DISPLAY set?");
    return 1;
  }
  char program[] = "handoff";
  char* argv[] = {program, storeName, NULL};
  std::vector<double> measured;
  std::vector<double> baseline;
  int status = 0;
  // The first pair is a warm-up: it brings the key into every cache there is.
  // The two take turns at going first, so that neither always runs in the
  // other's wake.
  for (int run = -1; run < kRuns && status == 0; ++run) {
    double runMs = 0;
    double plainMs = 0;
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == (run % 2 == 0)) {
        double start = NowMs();
        ScheduleRun(2, argv, owner);
        runMs = NowMs() - start;
        MSG msg;
        if (!PeekMessageA(&msg, owner, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
          fprintf(stderr, "the run did not finish the list\n");
          status = 1;
        }
      } else {
        double start = NowMs();
        int read = PlainRead(subkey.c_str());
        plainMs = NowMs() - start;
        if (read != static_cast<int>(kEntries)) {
          fprintf(stderr, "the plain loop read %d entries of %lu\n", read, kEntries);
          status = 1;
        }
      }
    }
    if (run >= 0) {
      measured.push_back(runMs);
      baseline.push_back(plainMs);
    }
  }
  DestroyWindow(owner);
  if (status == 0) PrintFigure("run overhead", measured, baseline, 1.25);
  return status;
}

}  // namespace

int main() {
  std::string storeName = "handoff-bench-run-" + std::to_string(GetCurrentProcessId());
  const std::string subkey = "Software\\Varnolt\\" + storeName;
  int status = 1;
  if (WriteEmptyList(subkey)) {
    status = Measure(&storeName[0], subkey);
  } else {
    ReportFailure("cannot write the list under HKCU\\" + subkey);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, subkey.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, subkey.c_str());
  return status;
}
