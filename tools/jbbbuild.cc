// jbbbuild: makes test and sample journal databases, and checks them.
//
// A thin command line over the jbbbuilder library: it gathers the keys
// (from a file or generated), bulk-loads them, writes the file and reports
// what it wrote.  A file in the default layout is written as the sorted
// keys come, in memory bounded at any count; the test layouts build the
// whole tree in memory first.  Exit code 0 on success, 1 on a failure, 2 on a usage error.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "btree/bulkwriter.h"
#include "btree/entrysort.h"
#include "builder/builder.h"
#include "messages/services.h"

using namespace jbbbuilder;

namespace {

const char kUsage[] =
    "Usage: jbbbuild --out FILE [options]     make a database\n"
    "       jbbbuild --check FILE [--dump]    check a database\n"
    "\n"
    "Entries (default: none, an empty database):\n"
    "  --keys FILE         keys from a UTF-8 text file, one per line\n"
    "  --generate N        N synthetic file paths\n"
    "  --mixed             generated names also use non-ASCII characters\n"
    "  --seed S            seed of generated keys, data and shuffle (default 1)\n"
    "  --fill N            entries aimed at per node, 5..10 (default 8)\n"
    "  --data-size N       bytes of every data record (default 32)\n"
    "Control record and journal information:\n"
    "  --type N            journal type: 0 unformatted, 1 change, 2 incremental (default 1)\n"
    "  --state N           journal state: 2 valid, 1 incremental in progress (default 2)\n"
    "  --activation T      activation time, seconds since 1970 (default 0)\n"
    "  --validation T      validation time, seconds since 1970 (default 0)\n"
    "  --max-size BYTES    maximum journal size, 0 = unlimited (default 0)\n"
    "  --server NAME       server name\n"
    "  --node NAME         node name\n"
    "  --fs NAME           journalled file system (UTF-8)\n"
    "  --key-length N      stored key length, 0 = variable (default 0)\n"
    "Layout:\n"
    "  --free-slots N      N free slots between the records\n"
    "  --slack BYTES       extra stale bytes in every node's slot\n"
    "  --shuffle           nodes in a random order (by --seed)\n"
    "  --no-empty-root     an empty database without its root record (2088 bytes)\n"
    "Damage (one change after a normal build):\n"
    "  --damage KIND       one of the kinds listed below\n"
    "  --damage-target S   subscript of the record to damage (default: the root)\n"
    "  --help              this text\n"
    "\n"
    "Damage kinds:";

struct Args {
  std::string out, check, keysFile;
  bool generate = false, mixed = false, dump = false;
  uint64_t count = 0, seed = 1;
  BulkOptions bulk;
  DbSpec spec;
};

[[noreturn]] void usageError(const std::string& why) {
  std::fprintf(stderr, "jbbbuild: %s\nTry 'jbbbuild --help'.\n", why.c_str());
  std::exit(2);
}

void printHelp() {
  std::printf("%s\n", kUsage);
  for (Damage d : allDamageKinds()) std::printf("  %s\n", damageName(d));
}

// A decimal integer within [lo, hi], or a usage error.
int64_t number(const std::string& opt, const char* text, int64_t lo, int64_t hi) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (!*text || *end || errno || v < lo || v > hi)
    usageError(opt + " takes a number from " + std::to_string(lo) + " to " + std::to_string(hi));
  return v;
}

uint64_t unsignedNumber(const std::string& opt, const char* text) {
  char* end = nullptr;
  errno = 0;
  if (!*text || *text == '-') usageError(opt + " takes an unsigned number");
  unsigned long long v = std::strtoull(text, &end, 10);
  if (*end || errno) usageError(opt + " takes an unsigned number");
  return v;
}

Args parseArgs(int argc, char** argv) {
  Args a;
  JournalInfo& info = a.spec.info;
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) usageError(opt + " needs a value");
      return argv[++i];
    };
    if (opt == "--help") {
      printHelp();
      std::exit(0);
    } else if (opt == "--out") a.out = value();
    else if (opt == "--check") a.check = value();
    else if (opt == "--dump") a.dump = true;
    else if (opt == "--keys") a.keysFile = value();
    else if (opt == "--generate") { a.generate = true; a.count = uint64_t(number(opt, value(), 0, 100000000)); }
    else if (opt == "--mixed") a.mixed = true;
    else if (opt == "--seed") a.seed = unsignedNumber(opt, value());
    else if (opt == "--fill") a.bulk.fill = int(number(opt, value(), 5, 10));
    else if (opt == "--data-size") a.spec.dataSize = uint16_t(number(opt, value(), 0, 32000));
    else if (opt == "--type") info.journalType = int32_t(number(opt, value(), INT32_MIN, INT32_MAX));
    else if (opt == "--state") info.journalState = int32_t(number(opt, value(), INT32_MIN, INT32_MAX));
    else if (opt == "--activation") info.activationTime = number(opt, value(), INT64_MIN, INT64_MAX);
    else if (opt == "--validation") info.validationTime = number(opt, value(), INT64_MIN, INT64_MAX);
    else if (opt == "--max-size") info.maxJournalSize = unsignedNumber(opt, value());
    else if (opt == "--server") info.server = value();
    else if (opt == "--node") info.node = value();
    else if (opt == "--fs") {
      std::string why;
      if (!utf8ToKey(value(), &info.fsName, &why)) usageError("--fs: " + why);
    } else if (opt == "--key-length") a.spec.keyLength = uint16_t(number(opt, value(), 0, 65535));
    else if (opt == "--free-slots") a.spec.layout.freeSlots = int(number(opt, value(), 0, 10000000));
    else if (opt == "--slack") a.spec.layout.slack = uint32_t(number(opt, value(), 0, 1 << 20));
    else if (opt == "--shuffle") a.spec.layout.shuffle = true;
    else if (opt == "--no-empty-root") a.spec.layout.writeEmptyRoot = false;
    else if (opt == "--damage") {
      if (!damageFromName(value(), &a.spec.damage)) usageError(std::string("unknown damage kind ") + argv[i]);
    } else if (opt == "--damage-target") a.spec.damageTarget = int32_t(number(opt, value(), 1, INT32_MAX));
    else usageError("unknown option " + opt);
  }
  if (a.out.empty() == a.check.empty()) usageError("give either --out or --check");
  if (a.generate && !a.keysFile.empty()) usageError("give either --keys or --generate");
  a.spec.layout.shuffleSeed = a.seed;
  return a;
}

int fail(const std::string& why) {
  std::fprintf(stderr, "jbbbuild: %s\n", why.c_str());
  return 1;
}

int check(const Args& a) {
  CheckResult r = checkDatabase(a.check);
  if (a.dump) std::printf("%s\n", r.dump.c_str());
  if (!r.ok()) {
    std::fputs(r.report().c_str(), stdout);
    return 1;
  }
  std::printf("%s: well-formed, %zu entries, %zu nodes, height %d\n", a.check.c_str(),
              r.entries.size(), r.nodes.size(), r.height);
  return 0;
}

// Whether the file is laid out as a fresh database is: what the bulk
// writer writes without holding the tree.
bool defaultLayout(const DbSpec& spec) {
  const Layout& l = spec.layout;
  return l.freeSlots == 0 && l.slack == 0 && !l.slackOf && !l.shuffle && l.nodeOrder.empty() && l.writeEmptyRoot &&
         spec.damage == Damage::None;
}

void reportDropped(size_t given, size_t kept) {
  if (kept != given) std::fprintf(stderr, "jbbbuild: %zu duplicate keys dropped\n", given - kept);
}

// Test layouts: the whole tree in memory, then the image.
int buildInMemory(const Args& a, std::vector<Key> keys) {
  std::string error;
  size_t given = keys.size();
  sortKeys(&keys, true, &error);
  reportDropped(given, keys.size());
  TreeNode root;
  if (!bulkLoad(entriesFor(keys, a.spec.dataSize, a.seed), a.bulk, &root, &error)) return fail(error);
  BuiltImage image;
  if (!writeDatabase(a.out, root, a.spec, &error, &image)) return fail(error);
  std::printf("jbbbuild: wrote %s: %zu entries, %zu nodes, height %d, %zu bytes\n", a.out.c_str(),
              image.entryCount, nodeCountOf(root), heightOf(root), image.bytes.size());
  return 0;
}

// Hands the sorted keys on to the writer, each with its data record.
class WithData : public jbbbulk::EntrySink {
 public:
  WithData(jbbbulk::BulkWriter* writer, size_t dataSize, uint64_t seed)
      : writer_(writer), dataSize_(dataSize), seed_(seed) {}
  bool put(const jbbbulk::EntryView& e) override {
    Key key(reinterpret_cast<const char16_t*>(e.key), e.keyUnits);
    Bytes data = keyData(key, dataSize_, seed_);
    return writer_->put(jbbbulk::EntryView{e.key, e.keyUnits, data.data(), data.size()});
  }
  const std::string& error() const override { return writer_->error(); }

 private:
  jbbbulk::BulkWriter* writer_;
  size_t dataSize_;
  uint64_t seed_;
};

// The default layout: keys sorted in bounded memory, the file written
// through the bulk writer as the sorted keys come, then put in place.
int buildStreaming(const Args& a, const std::vector<Key>& fileKeys) {
  std::string temp = temporaryFileOf(a.out);
  jbbbulk::SortOptions sortOptions;
  sortOptions.removeDuplicates = true;
  jbbbulk::EntrySorter sorter(temp, sortOptions);
  auto add = [&](const Key& k) {
    return sorter.put(jbbbulk::EntryView{reinterpret_cast<const uint16_t*>(k.data()), k.size(), nullptr, 0});
  };
  bool ok = true;
  for (size_t i = 0; ok && i < fileKeys.size(); ++i) ok = add(fileKeys[i]);
  SyntheticPaths paths(a.seed, u"/home", a.mixed);
  for (uint64_t i = 0; ok && a.generate && i < a.count; ++i) ok = add(paths.next());
  if (!ok || !sorter.finish()) return fail(sorter.error());
  reportDropped(size_t(sorter.count() + sorter.dropped()), size_t(sorter.count()));
  jbbbulk::BulkSpec spec;
  spec.fill.fill = a.bulk.fill;
  spec.dataSize = a.spec.dataSize;
  spec.keyLength = a.spec.keyLength;
  std::string error;
  if (!encodeJournalInfo(a.spec.info, spec.journalInfoArea.data(), &error)) return fail(error);
  jbbbulk::BulkWriter writer;
  WithData withData(&writer, a.spec.dataSize, a.seed);
  jbbbulk::BulkResult r;
  if (!writer.begin(temp, sorter.count(), spec) || !sorter.feed(&withData) || !writer.finish(&r))
    return fail(writer.error().empty() ? sorter.error() : writer.error());
  if (!installFile(temp, a.out, &error)) return fail(error);
  std::printf("jbbbuild: wrote %s: %llu entries, %llu nodes, height %d, %llu bytes\n", a.out.c_str(),
              static_cast<unsigned long long>(r.entries), static_cast<unsigned long long>(r.nodes), r.height,
              static_cast<unsigned long long>(r.bytes));
  return 0;
}

int build(const Args& a) {
  std::vector<Key> keys;
  std::string error;
  if (!a.keysFile.empty() && !readKeyFile(a.keysFile, &keys, &error)) return fail(error);
  if (defaultLayout(a.spec)) return buildStreaming(a, keys);
  if (a.generate) keys = syntheticPaths(size_t(a.count), a.seed, u"/home", a.mixed);
  return buildInMemory(a, std::move(keys));
}

}  // namespace

int main(int argc, char** argv) {
  startServices();
  Args a = parseArgs(argc, argv);
  return a.check.empty() ? build(a) : check(a);
}
