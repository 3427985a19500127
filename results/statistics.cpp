#include "results/statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>

namespace velotrax::results {

namespace {

// Samples up to this size get the exact distribution of U (its counts stay exact in a double).
constexpr std::size_t kLargestExact = 25;
// A pass nearer the median than this share of it is no outlier, whatever its z-score.
constexpr double kOutlierFloor = 0.02;

// P(B <= k) for B binomial with n trials and probability one half.
double HalfBinomialCdf(int n, int k) {
  double sum = 0;
  for (int i = 0; i <= k && i <= n; ++i) {
    sum += std::exp(std::lgamma(n + 1.0) - std::lgamma(i + 1.0) - std::lgamma(n - i + 1.0) -
                    n * std::log(2.0));
  }
  return sum;
}

// How many orderings of m values of a and n of b give each U from 0 to mn, when no two values
// tie: the largest value either belongs to a (and adds n to U) or to b.
std::vector<double> UCounts(std::size_t m, std::size_t n) {
  // row[j] holds the counts for (i, j) while i grows.
  std::vector<std::vector<double>> row(n + 1);
  for (std::size_t j = 0; j <= n; ++j) row[j] = {1.0};  // i = 0: U is 0
  for (std::size_t i = 1; i <= m; ++i) {
    std::vector<std::vector<double>> next(n + 1);
    next[0] = {1.0};  // j = 0: U is 0
    for (std::size_t j = 1; j <= n; ++j) {
      std::vector<double> counts(i * j + 1, 0.0);
      for (std::size_t u = 0; u < row[j].size(); ++u) counts[u + j] += row[j][u];
      for (std::size_t u = 0; u < next[j - 1].size(); ++u) counts[u] += next[j - 1][u];
      next[j] = std::move(counts);
    }
    row = std::move(next);
  }
  return row[n];
}

bool HasTies(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> all = a;
  all.insert(all.end(), b.begin(), b.end());
  std::sort(all.begin(), all.end());
  return std::adjacent_find(all.begin(), all.end()) != all.end();
}

bool UseExact(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() <= kLargestExact && b.size() <= kLargestExact && !HasTies(a, b);
}

// The distribution of U when a and b come from the same distribution and no two values tie:
// exact for samples of up to 25 values each, otherwise the normal approximation with continuity
// correction.
class NoShiftDistribution {
 public:
  NoShiftDistribution(std::size_t m, std::size_t n) : m_(m), n_(n) {
    if (m > kLargestExact || n > kLargestExact) return;
    cumulative_ = UCounts(m, n);
    for (std::size_t u = 1; u < cumulative_.size(); ++u) cumulative_[u] += cumulative_[u - 1];
  }

  // P(U <= c).
  double AtMost(std::size_t c) const {
    if (!cumulative_.empty()) {
      return cumulative_[std::min(c, cumulative_.size() - 1)] / cumulative_.back();
    }
    const double mn = static_cast<double>(m_ * n_);
    const double sd = std::sqrt(mn * static_cast<double>(m_ + n_ + 1) / 12.0);
    return 0.5 * std::erfc(-(static_cast<double>(c) + 0.5 - mn / 2.0) / sd / std::sqrt(2.0));
  }

  // The rank k of the shift interval [D(k), D(mn+1-k)]: the largest k with P(U <= k-1) below
  // 2.5 %; 0 when there is none. Excluding a shift from it is rejecting it at the 5 % level.
  std::size_t IntervalRank() const {
    std::size_t low = 0, high = m_ * n_ / 2;  // AtMost(low - 1) < 2.5 %, as if AtMost(-1) = 0
    while (low < high) {
      const std::size_t middle = low + (high - low + 1) / 2;
      if (AtMost(middle - 1) < 0.025) {
        low = middle;
      } else {
        high = middle - 1;
      }
    }
    return low;
  }

 private:
  std::size_t m_, n_;
  std::vector<double>
      cumulative_;  // P(U <= u) times the number of orderings; empty if approximated
};

// Doubles in their order as unsigned keys: a key's successor is the next larger double.
uint64_t OrderKey(double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  return bits >> 63 ? ~bits : bits | (uint64_t{1} << 63);
}

double FromOrderKey(uint64_t key) {
  return std::bit_cast<double>(key >> 63 ? key & ~(uint64_t{1} << 63) : ~key);
}

// How many differences y - x (x of xs, y of ys, both sorted) are at most limit. As x grows, the
// y that pass only grow in number, so one walk over each sample counts them all; the
// differences are compared as computed, so the count agrees with sorting them.
std::size_t DifferencesAtMost(const std::vector<double>& xs, const std::vector<double>& ys,
                              double limit) {
  std::size_t count = 0, passing = 0;
  for (double x : xs) {
    while (passing < ys.size() && ys[passing] - x <= limit) ++passing;
    count += passing;
  }
  return count;
}

// The k-th smallest (from 1) of the differences y - x over the sorted samples, without forming
// them: the smallest double whose count of differences at or below it reaches k is that
// difference itself. Bisecting over the doubles in order takes at most 64 counts of
// O(m + n) each, where sorting all m n differences took gigabytes for a few thousand passes.
double KthDifference(const std::vector<double>& xs, const std::vector<double>& ys, std::size_t k) {
  uint64_t low = OrderKey(ys.front() - xs.back()), high = OrderKey(ys.back() - xs.front());
  while (low < high) {
    const uint64_t middle = low + (high - low) / 2;
    if (DifferencesAtMost(xs, ys, FromOrderKey(middle)) >= k) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  // -0.0 counts as much as 0.0 and would come first; the difference itself is 0.0.
  return FromOrderKey(low) + 0.0;
}

}  // namespace

std::vector<double> AsDoubles(const std::vector<int32_t>& rates) {
  return std::vector<double>(rates.begin(), rates.end());
}

double MedianOf(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  if (values.size() % 2 == 1) return values[middle];
  return (values[middle - 1] + values[middle]) / 2.0;
}

int MedianIntervalRank(int n, double confidence) {
  const double tail = (1.0 - confidence) / 2.0;
  int k = 0;
  // Coverage of [x(k), x(n+1-k)] is 1 - 2 P(B <= k-1).
  while (k + 1 <= (n + 1) / 2 && HalfBinomialCdf(n, k) <= tail + 1e-12) ++k;
  return k;
}

int FewestPassesForInterval() {
  int n = 1;
  while (MedianIntervalRank(n, 0.95) == 0) ++n;
  return n;
}

Interval MedianInterval(std::vector<double> values, double confidence) {
  const int n = static_cast<int>(values.size());
  const int k = MedianIntervalRank(n, confidence);
  if (k == 0) return {};
  std::sort(values.begin(), values.end());
  return {values[static_cast<std::size_t>(k - 1)], values[static_cast<std::size_t>(n - k)], true};
}

double IntervalPercent(double median, const Interval& interval) {
  if (!interval.bounded || median <= 0) return -1;
  return 100.0 * std::max(median - interval.low, interval.high - median) / median;
}

std::vector<double> ModifiedZScores(const std::vector<double>& values) {
  const double median = MedianOf(values);
  std::vector<double> deviations;
  double sum = 0;
  for (double v : values) {
    deviations.push_back(std::fabs(v - median));
    sum += std::fabs(v - median);
  }
  const double mad = MedianOf(deviations);
  const double mean_deviation = values.empty() ? 0 : sum / static_cast<double>(values.size());
  std::vector<double> scores;
  for (double v : values) {
    if (mad > 0) {
      scores.push_back(0.6745 * (v - median) / mad);
    } else if (mean_deviation > 0) {
      scores.push_back((v - median) / (1.253314 * mean_deviation));
    } else {
      scores.push_back(0);
    }
  }
  return scores;
}

std::vector<std::size_t> Outliers(const std::vector<double>& values) {
  std::vector<std::size_t> found;
  // Three values cannot tell an outlier from the rest.
  if (values.size() < 4) return found;
  const std::vector<double> scores = ModifiedZScores(values);
  const double median = MedianOf(values);
  for (std::size_t i = 0; i < scores.size(); ++i) {
    const bool far = std::fabs(values[i] - median) > kOutlierFloor * std::fabs(median);
    if (std::fabs(scores[i]) > 3.5 && far) found.push_back(i);
  }
  return found;
}

RankTest MannWhitney(const std::vector<double>& a, const std::vector<double>& b) {
  RankTest test;
  if (a.empty() || b.empty()) return test;
  std::vector<double> sorted_b = b;
  std::sort(sorted_b.begin(), sorted_b.end());
  for (double x : a) {
    const auto [first_tie, past_ties] = std::equal_range(sorted_b.begin(), sorted_b.end(), x);
    test.u += static_cast<double>(first_tie - sorted_b.begin()) +
              0.5 * static_cast<double>(past_ties - first_tie);
  }
  const double m = static_cast<double>(a.size()), n = static_cast<double>(b.size());
  if (UseExact(a, b)) {
    const std::vector<double> counts = UCounts(a.size(), b.size());
    double total = 0, at_most = 0, at_least = 0;
    for (std::size_t u = 0; u < counts.size(); ++u) {
      total += counts[u];
      if (static_cast<double>(u) <= test.u) at_most += counts[u];
      if (static_cast<double>(u) >= test.u) at_least += counts[u];
    }
    test.p = std::min(1.0, 2.0 * std::min(at_most, at_least) / total);
    test.exact = true;
    return test;
  }
  // Normal approximation; ties shrink the variance.
  std::map<double, double> tie_sizes;
  for (double x : a) tie_sizes[x] += 1;
  for (double y : b) tie_sizes[y] += 1;
  double tie_term = 0;
  for (const auto& [value, t] : tie_sizes) tie_term += t * t * t - t;
  const double total = m + n;
  const double variance = m * n / 12.0 * ((total + 1) - tie_term / (total * (total - 1)));
  if (variance <= 0) return test;  // every value the same: no difference at all
  const double z = std::max(0.0, std::fabs(test.u - m * n / 2.0) - 0.5) / std::sqrt(variance);
  test.p = std::min(1.0, std::erfc(z / std::sqrt(2.0)));
  return test;
}

Shift ShiftEstimate(const std::vector<double>& a, const std::vector<double>& b) {
  Shift shift;
  if (a.empty() || b.empty()) return shift;
  std::vector<double> xs = a, ys = b;
  std::sort(xs.begin(), xs.end());
  std::sort(ys.begin(), ys.end());
  const std::size_t count = xs.size() * ys.size(), middle = count / 2;
  shift.estimate = count % 2 == 1
                       ? KthDifference(xs, ys, middle + 1)
                       : (KthDifference(xs, ys, middle) + KthDifference(xs, ys, middle + 1)) / 2.0;
  const NoShiftDistribution no_shift(xs.size(), ys.size());
  const std::size_t k = no_shift.IntervalRank();
  if (k >= 1) {
    shift.interval = {KthDifference(xs, ys, k), KthDifference(xs, ys, count + 1 - k), true};
  }
  // The interval leaves out 0 when fewer than k differences are at or below 0, or fewer than k
  // at or above it (x - y is exactly -(y - x)): the p of that same count agrees with it.
  const std::size_t against =
      std::min(DifferencesAtMost(xs, ys, 0.0), DifferencesAtMost(ys, xs, 0.0));
  shift.p = std::min(1.0, 2.0 * no_shift.AtMost(against));
  shift.smallest_p = std::min(1.0, 2.0 * no_shift.AtMost(0));
  return shift;
}

}  // namespace velotrax::results

namespace velotrax::results {

std::string StopReason(const StopRule& rule, const std::vector<double>& rates) {
  const int n = static_cast<int>(rates.size());
  if (rule.confidence <= 0) {
    return n >= rule.repeat ? std::to_string(n) + " passes as asked" : "";
  }
  const double median = MedianOf(rates);
  const double percent = IntervalPercent(median, MedianInterval(rates));
  char shown[32];
  std::snprintf(shown, sizeof shown, "%.1f", percent);
  if (n >= rule.min_runs && percent >= 0 && percent <= rule.confidence) {
    return "interval within " + std::string(shown) + " % after " + std::to_string(n) + " passes";
  }
  if (n >= rule.max_runs) {
    return "the interval was still " +
           (percent >= 0 ? "±" + std::string(shown) + " %" : std::string("unbounded")) +
           " after the most passes (" + std::to_string(n) + ")";
  }
  return "";
}

Interval ReportedInterval(const StopRule& rule, const std::vector<double>& rates) {
  if (rule.confidence <= 0) return MedianInterval(rates);
  // Stopping at the first narrow 95 % interval leaves it covering the true median in about 93 %
  // of runs (normal passes with a spread of 2 %, P = 1); the 97 % interval covers it in at least
  // 97 % for P from 0.25 to 4 times the spread, normal or skewed passes (see the tests).
  constexpr double kAfterAdaptiveStop = 0.97;
  const Interval wider = MedianInterval(rates, kAfterAdaptiveStop);
  if (wider.bounded || MedianIntervalRank(static_cast<int>(rates.size()), 0.95) == 0) return wider;
  const auto [low, high] = std::minmax_element(rates.begin(), rates.end());
  return {*low, *high, true};
}

}  // namespace velotrax::results
