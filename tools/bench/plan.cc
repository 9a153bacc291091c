#include "bench/plan.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <sstream>

namespace jbbbench {

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

bool parseExit(const std::string& text, int* value) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 0 || v > 255) return false;
  *value = int(v);
  return true;
}

bool parseLine(const std::string& line, Command* cmd, std::string* why) {
  std::vector<std::string> f = splitTabs(line);
  if (f.size() < 4 || f[0].empty() || f[3].empty()) {
    *why = "needs NAME, EXPECTED-EXIT, STDIN and PROGRAM separated by tabs";
    return false;
  }
  if (!parseExit(f[1], &cmd->expectedExit)) {
    *why = "the expected exit status is not a number from 0 to 255";
    return false;
  }
  cmd->name = f[0];
  cmd->stdinPath = f[2] == "-" ? "" : f[2];
  cmd->argv.assign(f.begin() + 3, f.end());
  return true;
}

}  // namespace

bool parsePlan(const std::string& text, std::vector<Command>* plan, std::string* error) {
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    Command cmd;
    std::string why;
    if (!parseLine(line, &cmd, &why)) {
      *error = "plan line " + std::to_string(number) + ": " + why;
      return false;
    }
    plan->push_back(cmd);
  }
  if (plan->empty()) *error = "the plan has no command";
  return !plan->empty();
}

bool runPlan(const std::vector<Command>& plan, const RunOptions& options, std::vector<Measured>* out,
             std::string* error, std::ostream* progress) {
  for (int round = -options.warmupRounds; round < options.rounds; ++round) {
    for (const Command& cmd : plan) {
      Sample s;
      if (!runCommand(cmd, options.pollUs, &s, error)) return false;
      if (s.exitStatus != cmd.expectedExit) {
        *error = cmd.name + ": " + cmd.argv[0] + " ended with status " + std::to_string(s.exitStatus) +
                 ", expected " + std::to_string(cmd.expectedExit);
        return false;
      }
      if (round < 0) continue;
      out->push_back({&cmd, round, s});
      if (progress != nullptr)
        *progress << cmd.name << '\t' << round << '\t' << s.wallMs << '\t' << s.anonPeakKb << '\t' << s.maxRssKb
                  << '\t' << s.cpuMs << '\n'
                  << std::flush;
    }
  }
  return true;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

namespace {

CaseSummary summarizeCase(const std::string& name, const std::vector<Measured>& measured) {
  std::vector<double> ms, anon, rss, cpu;
  for (const Measured& m : measured) {
    if (m.command->name != name) continue;
    ms.push_back(m.sample.wallMs);
    anon.push_back(double(m.sample.anonPeakKb));
    rss.push_back(double(m.sample.maxRssKb));
    cpu.push_back(m.sample.cpuMs);
  }
  CaseSummary c;
  c.name = name;
  c.samples = int(ms.size());
  c.medianMs = median(ms);
  c.minMs = *std::min_element(ms.begin(), ms.end());
  c.maxMs = *std::max_element(ms.begin(), ms.end());
  c.anonMedianKb = long(median(anon));
  c.anonMaxKb = long(*std::max_element(anon.begin(), anon.end()));
  c.maxRssMedianKb = long(median(rss));
  c.cpuMedianMs = median(cpu);
  return c;
}

}  // namespace

std::vector<CaseSummary> summarize(const std::vector<Measured>& measured) {
  std::vector<std::string> names;
  for (const Measured& m : measured)
    if (std::find(names.begin(), names.end(), m.command->name) == names.end()) names.push_back(m.command->name);
  std::vector<CaseSummary> out;
  for (const std::string& name : names) out.push_back(summarizeCase(name, measured));
  return out;
}

}  // namespace jbbbench
