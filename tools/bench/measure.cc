// Why polling: ru_maxrss counts every resident page, and a viewer that
// maps its database read-only would show the whole file there, although
// those pages are the page cache's.  The kernel keeps no peak of the
// anonymous pages alone, so a thread reads RssAnon from /proc/PID/status
// (a few counters, cheap to read, unlike smaps_rollup which walks every
// mapping) while the command runs.  A peak shorter than the poll interval
// can be missed; the anonymous memory of the programs measured here grows
// with the index array and the heap and is not given back before the end.
#include "bench/measure.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace jbbbench {

long rssAnonKb(const char* statusText) {
  const char* p = std::strstr(statusText, "\nRssAnon:");
  if (p == nullptr) return -1;
  return std::strtol(p + std::strlen("\nRssAnon:"), nullptr, 10);
}

namespace {

// Reads /proc/PID/status until told to stop, keeping the highest RssAnon.
class AnonPoller {
 public:
  AnonPoller(pid_t pid, int pollUs) : pollUs_(pollUs) {
    std::string path = "/proc/" + std::to_string(pid) + "/status";
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ >= 0) thread_ = std::thread([this] { loop(); });
  }
  ~AnonPoller() { stop(); }
  // Stops polling and returns the peak; the process must not be reaped yet,
  // so that the file still belongs to it.
  long stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return peakKb_;
  }

 private:
  void loop() {
    while (!stop_) {
      sampleOnce();
      std::this_thread::sleep_for(std::chrono::microseconds(pollUs_));
    }
  }
  void sampleOnce() {
    char text[4096];
    ssize_t n = pread(fd_, text, sizeof text - 1, 0);
    if (n <= 0) return;
    text[n] = '\0';
    long kb = rssAnonKb(text);
    if (kb > peakKb_) peakKb_ = kb;
  }

  int fd_ = -1;
  int pollUs_;
  std::atomic<bool> stop_{false};
  long peakKb_ = 0;
  std::thread thread_;
};

bool spawnCommand(const Command& cmd, pid_t* pid, std::string* error) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const char* in = cmd.stdinPath.empty() ? "/dev/null" : cmd.stdinPath.c_str();
  posix_spawn_file_actions_addopen(&actions, 0, in, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : cmd.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawnp(pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) *error = cmd.name + ": cannot start " + cmd.argv[0] + ": " + std::strerror(rc);
  return rc == 0;
}

// Waits until the process has ended without reaping it.
void waitForExit(pid_t pid) {
  siginfo_t info;
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
}

int exitStatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

double milliseconds(const struct timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; }

}  // namespace

bool runCommand(const Command& cmd, int pollUs, Sample* sample, std::string* error) {
  if (cmd.argv.empty()) {
    *error = cmd.name + ": no command";
    return false;
  }
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (!spawnCommand(cmd, &pid, error)) return false;
  AnonPoller poller(pid, pollUs);
  waitForExit(pid);
  auto end = std::chrono::steady_clock::now();
  sample->anonPeakKb = poller.stop();
  int status = 0;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  sample->wallMs = std::chrono::duration<double, std::milli>(end - start).count();
  sample->maxRssKb = usage.ru_maxrss;
  sample->cpuMs = milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime);
  sample->exitStatus = exitStatusOf(status);
  return true;
}

}  // namespace jbbbench
