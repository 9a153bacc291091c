// A benchmark plan: the commands to measure, run round after round so that
// every case meets the same machine conditions (the baseline `cat` of the
// database included), and the medians of what was measured.
//
// Plan text: one command per line, fields separated by tabs:
//   NAME <tab> EXPECTED-EXIT <tab> STDIN <tab> PROGRAM <tab> ARG ...
// STDIN "-" is /dev/null.  Empty lines and lines starting with '#' are
// skipped.  Several lines may share a name; each round runs every line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "bench/measure.h"

namespace jbbbench {

// False, with *error naming the line, for a malformed plan.
bool parsePlan(const std::string& text, std::vector<Command>* plan, std::string* error);

struct RunOptions {
  int rounds = 5;
  int warmupRounds = 1;  // run and thrown away: page cache and wine warm
  int pollUs = 1000;
};

struct Measured {
  const Command* command;
  int round;  // 0 is the first measured round
  Sample sample;
};

// Runs every command of the plan once per round.  A command that cannot be
// started, or ends with another status than the plan expects, stops the
// run (false, *error names it): a benchmark of a failing run measures
// nothing.  Each measured sample is also passed to `progress`, if given.
bool runPlan(const std::vector<Command>& plan, const RunOptions& options, std::vector<Measured>* out,
             std::string* error, std::ostream* progress);

struct CaseSummary {
  std::string name;
  int samples = 0;
  double medianMs = 0, minMs = 0, maxMs = 0;
  double cpuMedianMs = 0;
  long anonMedianKb = 0, anonMaxKb = 0;
  long maxRssMedianKb = 0;
};

// One summary per case name, in the order the names first appear.
std::vector<CaseSummary> summarize(const std::vector<Measured>& measured);

// The median; the mean of the middle two for an even count, 0 for none.
double median(std::vector<double> values);

}  // namespace jbbbench
