#pragma once
// What the benchmarks share: a workload repeated several times is summed up
// as its median with the spread (min..max) of the runs, a ratio of two such
// figures whose spreads overlap reads "~1x" rather than a win or a loss, and
// every table carries the machine's load average from before and after it.
// Header-only; each benchmark is one executable.
//
//   bench::Spread ours = bench::spreadOf({2.0, 2.2, 1.9});   // 2.00 (1.90..2.20)
//   bench::ratioText(ours, theirs);                           // "1.31x" or "~1x"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline constexpr int kDefaultRuns = 5;

struct Spread {
  double median = 0;
  double min = 0;
  double max = 0;
};

inline Spread spreadOf(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  const size_t n = samples.size();
  const double median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  return {median, samples.front(), samples.back()};
}

// Whether the two ranges of runs share any value: then neither is faster.
inline bool overlaps(const Spread& a, const Spread& b) { return a.min <= b.max && b.min <= a.max; }

// a.median / b.median, "~1x" when the runs overlap, "-" without figures.
inline std::string ratioText(const Spread& a, const Spread& b) {
  if (a.median <= 0 || b.median <= 0) return "-";
  if (overlaps(a, b)) return "~1x";
  char text[32];
  std::snprintf(text, sizeof text, "%.2fx", a.median / b.median);
  return text;
}

// "median (min..max)" with the given printf format for each number.
inline std::string spreadText(const Spread& s, const char* format = "%.0f") {
  char median[32], low[32], high[32];
  std::snprintf(median, sizeof median, format, s.median);
  std::snprintf(low, sizeof low, format, s.min);
  std::snprintf(high, sizeof high, format, s.max);
  return std::string(median) + " (" + low + ".." + high + ")";
}

// The 1, 5 and 15 minute load averages, as /proc/loadavg gives them.
inline std::string loadAverage() {
  double one = 0, five = 0, fifteen = 0;
  FILE* file = std::fopen("/proc/loadavg", "r");
  if (file == nullptr) return "unknown";
  const bool read = std::fscanf(file, "%lf %lf %lf", &one, &five, &fifteen) == 3;
  std::fclose(file);
  if (!read) return "unknown";
  char text[48];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
  return text;
}

// "--runs=N" with N from 1 to 1000; false for anything else.
inline bool parseRuns(const std::string& arg, int& runs) {
  constexpr char kPrefix[] = "--runs=";
  if (arg.rfind(kPrefix, 0) != 0) return false;
  const char* digits = arg.c_str() + sizeof kPrefix - 1;
  char* end = nullptr;
  const long value = std::strtol(digits, &end, 10);
  if (end == digits || *end != '\0' || value < 1 || value > 1000) return false;
  runs = static_cast<int>(value);
  return true;
}

}  // namespace bench
