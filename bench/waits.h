// How a benchmark prints a set of waits in milliseconds: the median, the worst, and how many
// went over the goal.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

inline void PrintWaits(const char* name, const char* what, std::vector<double> sorted, int goal_ms) {
  std::sort(sorted.begin(), sorted.end());
  double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
  double worst = sorted.empty() ? 0 : sorted.back();
  long long over = std::count_if(sorted.begin(), sorted.end(), [goal_ms](double ms) { return ms > goal_ms; });
  printf("%s_%s_median: %.2f ms\n", name, what, median);
  printf("%s_%s_worst: %.2f ms\n", name, what, worst);
  printf("%s_%ss_over_%dms: %lld of %zu samples\n", name, what, goal_ms, over, sorted.size());
}
