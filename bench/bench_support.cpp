// What the benchmark programs share: a clock, medians, and the one line each
// figure is printed in.
#include "bench_support.h"

#include <stdio.h>

#include <algorithm>

double NowMs() {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  if (values.size() % 2 == 1) return values[middle];
  return (values[middle - 1] + values[middle]) / 2;
}

void PrintFigure(const char* figure, const std::vector<double>& measured,
                 const std::vector<double>& baseline, double target) {
  double handoff = Median(measured);
  double floor = Median(baseline);
  printf(
      "%s: handoff %.1f ms, baseline %.1f ms, ratio %.2f (target <= %.2f; medians of %zu runs "
      "each)\n",
      figure, handoff, floor, floor > 0 ? handoff / floor : 0.0, target, measured.size());
  // Wine's stdout is a pipe here, fully buffered: each figure shows as soon as it is known.
  fflush(stdout);
}

std::string ModuleFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof(path));
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\'));
}

void ReportFailure(const std::string& message) {
  fprintf(stderr, "%s (error %lu)\n", message.c_str(), GetLastError());
  fflush(stderr);
}
