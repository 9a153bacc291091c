// Starting one command and measuring it: wall time, peak anonymous memory
// and the kernel's peak resident set.  Linux only: the command is started
// with posix_spawn (no shell in front of it) and its memory is read from
// /proc while it runs.
#pragma once

#include <string>
#include <vector>

namespace jbbbench {

// One command of a benchmark plan.
struct Command {
  std::string name;       // the case it belongs to, as the tables name it
  int expectedExit = 0;   // any other exit status stops the benchmark
  std::string stdinPath;  // standard input; empty means /dev/null
  std::vector<std::string> argv;  // argv[0] is looked up in PATH
};

struct Sample {
  double wallMs = 0;
  // The highest RssAnon seen while the command ran: the heap, the stacks
  // and private anonymous mappings, without pages of mapped files.
  long anonPeakKb = 0;
  // ru_maxrss of wait4: the peak of all resident pages, file-backed ones
  // included (a mapped database counts here in full).
  long maxRssKb = 0;
  // User and system time of the command's own threads (not of a server it
  // talks to, such as the wine server): less disturbed than wall time by
  // other work on a shared machine.
  double cpuMs = 0;
  int exitStatus = 0;  // the exit code, or 128 + the signal that ended it
};

// Runs the command once, its standard output and standard error to
// /dev/null, and polls its memory every pollUs microseconds.  False, with
// *error saying why, when it cannot be started.
bool runCommand(const Command& cmd, int pollUs, Sample* sample, std::string* error);

// The RssAnon field of a /proc/PID/status text in kB, or -1 when absent
// (as it is for a process that has exited).
long rssAnonKb(const char* statusText);

}  // namespace jbbbench
