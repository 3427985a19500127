// One game and method measured as a series: the warm-up first, then counted passes until the stop
// rule has enough. Both front ends run their passes through it, so that the same passes give the
// same stored score and the same interval in the window and in velotrax-cli.
#pragma once

#include <cstdint>
#include <string>

#include "results/run_record.h"
#include "results/statistics.h"

namespace velotrax::results {

class SeriesDriver {
 public:
  // auto_warmup: the first pass is set aside as a warm-up when the passes after it show that it
  // ran cold (FirstPassIsWarmup), and one more pass is run in its place.
  SeriesDriver(int game, std::string rom, bool is_d3d, StopRule rule, int warmup = 0,
               bool auto_warmup = false);

  // True while another pass is wanted; once false, Series().stop says why.
  bool WantsPass();
  // True when the pass wanted next is a warm-up pass, which does not count.
  bool NextIsWarmup() const;
  // Takes the frame rate of the pass just run; 0 (no frame rate) ends a series repeated until
  // precise, as more passes would not make it converge.
  void AddPass(int32_t fps);
  // Ends the series before the rule had enough, saying why; a reason already given stays.
  void EndEarly(const std::string& reason);
  // Fills in the stored score, the reported interval and the outliers; false when no counted
  // pass was complete and nothing is to be stored.
  bool Finish();

  const SeriesRecord& Series() const { return series_; }
  const StopRule& Rule() const { return rule_; }
  // Counted passes so far that found no frame rate.
  int PassesWithoutRate() const { return passes_without_rate_; }
  // True once the first pass has been set aside as a warm-up by the passes after it.
  bool FirstPassSetAside() const { return first_set_aside_; }

 private:
  SeriesRecord series_;
  StopRule rule_;
  int warmup_;
  bool auto_warmup_;
  bool first_judged_ = false, first_set_aside_ = false;
  int passes_without_rate_ = 0;
};

// The window's progress of a series: "pass 4" while the interval is not known yet, then
// "pass 7, ±3.1 %", the pass about to run and the interval of the passes so far.
std::string SeriesProgressText(const SeriesRecord& series);

// "±1.2%": the reported interval's largest distance from the median; empty when unbounded.
std::string IntervalPercentText(const SeriesRecord& series);

}  // namespace velotrax::results
