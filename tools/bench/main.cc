// jbbbench: the measuring half of scripts/bench.sh.  It runs a plan of
// commands round after round and prints the medians (run), writes the
// request lines of a Find session (requests) and tells the index-array
// size of a database (index-size).  Exit code 0 on success, 1 when a
// command fails or a file cannot be used, 2 on a usage error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "bench/inputs.h"
#include "bench/plan.h"
#include "messages/services.h"

using namespace jbbbench;

namespace {

int fail(const std::string& why) {
  std::fprintf(stderr, "jbbbench: %s\n", why.c_str());
  return 1;
}

bool readFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

void printSummary(const std::vector<CaseSummary>& cases) {
  std::printf(
      "case\tsamples\tmedian_ms\tmin_ms\tmax_ms\tanon_median_kb\tanon_max_kb\tmaxrss_median_kb\tcpu_median_ms\n");
  for (const CaseSummary& c : cases)
    std::printf("%s\t%d\t%.3f\t%.3f\t%.3f\t%ld\t%ld\t%ld\t%.3f\n", c.name.c_str(), c.samples, c.medianMs,
                c.minMs, c.maxMs, c.anonMedianKb, c.anonMaxKb, c.maxRssMedianKb, c.cpuMedianMs);
}

int runCommandLine(const std::string& planPath, const RunOptions& options, const std::string& samplesPath) {
  std::string text, error;
  if (!readFile(planPath, &text)) return fail("cannot read the plan " + planPath);
  std::vector<Command> plan;
  if (!parsePlan(text, &plan, &error)) return fail(error);
  std::ofstream samples;
  if (!samplesPath.empty()) {
    samples.open(samplesPath);
    if (!samples) return fail("cannot write " + samplesPath);
    samples << "case\tround\twall_ms\tanon_peak_kb\tmaxrss_kb\tcpu_ms\n";
  }
  std::vector<Measured> measured;
  if (!runPlan(plan, options, &measured, &error, samplesPath.empty() ? nullptr : &samples)) return fail(error);
  printSummary(summarize(measured));
  return 0;
}

int requestsCommandLine(size_t n, uint64_t seed, size_t finds, uint64_t pickSeed, const std::string& out) {
  std::ofstream file(out, std::ios::binary);
  if (!file) return fail("cannot write " + out);
  file << findSession(randomKeys(n, seed, finds, pickSeed));
  return file.flush() ? 0 : fail("cannot write " + out);
}

int indexSizeCommandLine(const std::string& path) {
  uint32_t entries = 0;
  uint64_t bytes = 0;
  std::string error;
  if (!indexArraySize(path, &entries, &bytes, &error)) return fail(error);
  std::printf("%u\t%llu\n", entries, static_cast<unsigned long long>(bytes));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  startServices();
  CLI::App app{"Measures commands for the benchmark script (scripts/bench.sh).", "jbbbench"};
  app.require_subcommand(1);

  std::string planPath, samplesPath, out, dbPath;
  RunOptions options;
  CLI::App* run = app.add_subcommand("run", "run a plan round after round; print medians per case");
  run->add_option("--plan", planPath, "plan file: NAME, EXPECTED-EXIT, STDIN, PROGRAM, ARG... by tabs")->required();
  run->add_option("--rounds", options.rounds, "measured rounds")->check(CLI::Range(1, 1000))->capture_default_str();
  run->add_option("--warmup", options.warmupRounds, "rounds run first and not counted")
      ->check(CLI::Range(0, 100))
      ->capture_default_str();
  run->add_option("--poll-us", options.pollUs, "interval of the memory polling, microseconds")
      ->check(CLI::Range(50, 1000000))
      ->capture_default_str();
  run->add_option("--samples", samplesPath, "write every measured sample to this file");

  size_t n = 0, finds = 0;
  uint64_t seed = 1, pickSeed = 7;
  CLI::App* requests = app.add_subcommand("requests", "write a session of random Finds and a Quit");
  requests->add_option("--generate", n, "entries of the database (as jbbbuild --generate)")->required();
  requests->add_option("--seed", seed, "seed of the database (as jbbbuild --seed)")->capture_default_str();
  requests->add_option("--finds", finds, "number of Find requests")->required();
  requests->add_option("--pick-seed", pickSeed, "seed of the choice of keys")->capture_default_str();
  requests->add_option("--out", out, "the request file")->required();

  CLI::App* indexSize = app.add_subcommand("index-size", "print the index array's entries and bytes");
  indexSize->add_option("file", dbPath, "the database file")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (*run) return runCommandLine(planPath, options, samplesPath);
  if (*requests) return requestsCommandLine(n, seed, finds, pickSeed, out);
  return indexSizeCommandLine(dbPath);
}
