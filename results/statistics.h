// The statistics behind repeated passes and comparisons of runs. All of them are free of
// assumptions about the distribution of frame rates: medians, order statistics and ranks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velotrax::results {

// A confidence interval; bounded is false when the sample is too small to give one.
struct Interval {
  double low = 0, high = 0;
  bool bounded = false;
};

// The median; with an even count the mean of the two middle values. 0 for no values.
double MedianOf(std::vector<double> values);
// Frame rates as the statistics take them.
std::vector<double> AsDoubles(const std::vector<int32_t>& rates);

// The rank k (1-based) such that [x(k), x(n+1-k)] covers the median with at least the given
// confidence, the largest such k; 0 when no interval of n values reaches it (n < 6 for 95 %).
int MedianIntervalRank(int n, double confidence);

// The fewest values that give a 95 % interval of the median (6).
int FewestPassesForInterval();

// The order-statistics confidence interval of the median (95 % by default).
Interval MedianInterval(std::vector<double> values, double confidence = 0.95);

// The interval's largest distance from the median in per cent of the median; -1 when unbounded
// or the median is not positive.
double IntervalPercent(double median, const Interval& interval);

// The modified z-score of each value: 0.6745 (x - median) / MAD; with a MAD of 0 the mean
// absolute deviation (times 1.2533) stands in; all 0 when both are 0.
std::vector<double> ModifiedZScores(const std::vector<double>& values);

// The indices of the values whose modified z-score is beyond 3.5 either way and that lie more
// than 2 % from the median: a pass one frame per second off at 50 fps or more is rounding, however
// few the others that disagree.
std::vector<std::size_t> Outliers(const std::vector<double>& values);

// Mann-Whitney U of sample a against b: U counts the pairs with a value of a above one of b
// (ties count a half); p is two-sided, exact for samples without ties of up to 25 values each,
// otherwise from the normal approximation with tie and continuity corrections.
struct RankTest {
  double u = 0, p = 1;
  bool exact = false;
};
RankTest MannWhitney(const std::vector<double>& a, const std::vector<double>& b);

// The Hodges-Lehmann shift of b against a (the median of all differences b - a) with its 95 %
// interval from the distribution of U without ties (exact up to 25 values each); unbounded when
// the samples are too small. p is the two-sided p of no shift from the same ranks, ties counting
// against a shift, so that p < 0.05 exactly when the interval leaves out 0; smallest_p is the
// least p samples of these sizes can give. Takes O((m + n) log) time and no room for the m n
// differences.
struct Shift {
  double estimate = 0;
  Interval interval;
  double p = 1, smallest_p = 1;
};
Shift ShiftEstimate(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace velotrax::results

namespace velotrax::results {

// When a game and method get no further pass: a fixed number of passes, or passes until the
// 95 % interval of the median is within confidence per cent of it, between min and max passes.
struct StopRule {
  int repeat = 1;
  double confidence = 0;  // per cent; 0 for a fixed number of passes
  int min_runs = 6, max_runs = 50;
};

// Why the passes so far are enough, or an empty text when another pass is wanted.
std::string StopReason(const StopRule& rule, const std::vector<double>& rates);

// The 95 % interval of the median to report once the rule has stopped the passes. Passes repeated
// until the interval looked narrow stop when it is narrow by chance, so there the order-statistics
// interval at 97 % stands in (at least the smallest to the largest pass): it keeps covering the
// true median 95 % of the time.
Interval ReportedInterval(const StopRule& rule, const std::vector<double>& rates);

}  // namespace velotrax::results
