// What the benchmark programs share: a clock, medians, and the one line each
// figure is printed in.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Milliseconds from an arbitrary start, from QueryPerformanceCounter.
double NowMs();

double Median(std::vector<double> values);

// Prints "<figure>: handoff M ms (spread), <baseline> B ms (spread), ratio R
// (...)" from the medians of the two series, whose runs were made in pairs;
// the spread is the middle half of each series and of the pairs' ratios. A
// target of 0 prints the figure for information only.
void PrintFigure(const char* figure, const std::vector<double>& measured,
                 const std::vector<double>& baseline, double target,
                 const char* baselineName = "baseline");

// The folder of this program, where the programs it starts were built too.
std::string ModuleFolder();

// Prints the message with the last Windows error, for a benchmark that cannot go on.
void ReportFailure(const std::string& message);
