// What the subcommands share: finding the database file, reading it,
// messages, progress, and writing a new database safely.
#pragma once

#include <cstdint>
#include <string>

#include "builder/builder.h"
#include "jbbtool/jbbtool.h"

namespace jbbtool {

// The database's own path: `given` when such a file exists, else given +
// ".jbbdb" when that exists.  False (with a message on io.err) otherwise.
bool resolveDatabase(const std::string& given, const Streams& io, std::string* path);
// resolveDatabase, then the whole file.  The file is opened for reading
// only.  False with a message when it cannot be read.
bool readDatabase(const std::string& given, const Streams& io, std::string* path, jbbbuilder::FileImage* file);

// "jbbtool: <text>\n" on io.err; returns code.
int message(const Streams& io, int code, const std::string& text);

// A count of things done, shown on io.err every so often when io.progress
// is set, and cleared at the end.
class Progress {
 public:
  Progress(const Streams& io, const char* what) : io_(io), what_(what) {}
  ~Progress() { done(); }
  void tick() {
    if (io_.progress && (++count_ & 0xFFFF) == 0) show();
  }
  // A step of a long run without a count ("writing ...").
  void stage(const char* what) {
    what_ = what;
    count_ = 0;
    if (io_.progress) show(false);
  }
  void done();

 private:
  void show(bool withCount = true);
  const Streams& io_;
  const char* what_;
  uint64_t count_ = 0;
  bool shown_ = false;
};

// The control-record fields a rebuilt database keeps from its source: the
// versions, key length, data size, the journal information area byte for
// byte and the padding.  The fields that describe the layout are the new
// file's own.
jbbbuilder::DbSpec specKeeping(const uint8_t* ctrlRec);

// Bulk-loads sorted, distinct entries, checks the image and writes it to
// options.out (or, when that is empty, over `replacing`, keeping a backup
// as options say).  An existing out is refused unless options.force.
// Returns an exit code; *image describes what was written.
int writeNewDatabase(std::vector<jbbbuilder::Entry> entries, const jbbbuilder::DbSpec& spec,
                     const OutputOptions& options, const std::string& replacing, const Streams& io,
                     jbbbuilder::BuiltImage* image);

}  // namespace jbbtool
