// What a crash or a power loss can leave on the disk, worked out from the
// file-system calls a test recorded (osFileTestRecord, platform/osfile.h).
//
// The model, per file (an inode: one content, any number of names):
//   - A process that dies keeps every call it made: after n calls, the
//     files are what the first n calls made them (crashAfter).
//   - A power loss keeps, for each file, its content as of its last sync,
//     plus any subset of the writes and cuts made to it since; and, for the
//     names in a folder, the names as of the folder's last sync, plus a
//     prefix of the creations, renames, links and removals since (a file
//     system applies those in order).  powerLossesAfter picks a spread of
//     such subsets: none, all, every prefix, all but one, and some seeded
//     random ones.
//   - A write can be torn at a sector: tornAt gives the files with the
//     last write only partly made, in whole 512-byte sectors of the file.
// Every file a test names when it starts recording counts as synced, its
// name too.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/osfile.h"

namespace crashtest {

using Bytes = std::vector<uint8_t>;
using Files = std::map<std::string, Bytes>;  // full name -> content

class Recording {
 public:
  Recording() = default;
  ~Recording() { stop(); }
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Takes the named files as they are on the disk now (a name without a
  // file is left out) and starts recording every call of the process.
  void start(const std::vector<std::string>& names);
  void stop();
  // Calls recorded so far.
  size_t size() const { return events_.size(); }
  const std::vector<OsFileEvent>& events() const { return events_; }

  // The files after a process crash that followed the first n calls.
  Files crashAfter(size_t n) const;
  // Files a power loss after the first n calls can leave (duplicates
  // dropped).  The seed picks the random subsets.
  std::vector<Files> powerLossesAfter(size_t n, uint64_t seed) const;
  // When call n - 1 is a write: the files after a crash in which that write
  // reached only some of its sectors (each prefix and each suffix of them,
  // short of all).  Empty otherwise.
  std::vector<Files> tornAt(size_t n) const;
  // The positions just before every sync and folder sync, and the end: a
  // power loss anywhere in an epoch leaves a subset of what a loss at its
  // end can leave.
  std::vector<size_t> syncEpochEnds() const;

 private:
  struct Replay;
  Replay replay(size_t n) const;

  Files start_;
  std::vector<OsFileEvent> events_;
  bool recording_ = false;
};

// Makes the folders of `files` hold exactly them among `names`: each named
// file with its content, every other of `names` removed.
void putFiles(const Files& files, const std::vector<std::string>& names);
// The content of a file on the disk (empty when there is none).
Bytes readWhole(const std::string& path);

}  // namespace crashtest
