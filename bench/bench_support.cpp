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

namespace {

// The value below which the given share of the sorted values lies.
double Quantile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  double at = share * static_cast<double>(values.size() - 1);
  size_t below = static_cast<size_t>(at);
  size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (values[above] - values[below]) * (at - static_cast<double>(below));
}

}  // namespace

void PrintFigure(const char* figure, const std::vector<double>& measured,
                 const std::vector<double>& baseline, double target, const char* baselineName) {
  double handoff = Median(measured);
  double floor = Median(baseline);
  // The spread: the middle half of each series, and of the ratios of the
  // runs made side by side.
  std::vector<double> ratios;
  for (size_t i = 0; i < measured.size() && i < baseline.size(); ++i) {
    if (baseline[i] > 0) ratios.push_back(measured[i] / baseline[i]);
  }
  char targetText[32] = "printed only";
  if (target > 0) snprintf(targetText, sizeof(targetText), "target <= %.2f", target);
  printf(
      "%s: handoff %.1f ms (%.1f-%.1f), %s %.1f ms (%.1f-%.1f), ratio %.2f (pairs %.2f-%.2f; %s; "
      "medians and middle halves of %zu runs each)\n",
      figure, handoff, Quantile(measured, 0.25), Quantile(measured, 0.75), baselineName, floor,
      Quantile(baseline, 0.25), Quantile(baseline, 0.75), floor > 0 ? handoff / floor : 0.0,
      Quantile(ratios, 0.25), Quantile(ratios, 0.75), targetText, measured.size());
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
