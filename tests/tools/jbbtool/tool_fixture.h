// Test support for jbbtool: a scratch folder per test, databases made by the
// builder, and a subcommand run with its standard output and error caught
// in files.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "builder/builder.h"
#include "jbbtool/jbbtool.h"
#include "platform/os.h"

namespace tooltest {

using jbbbuilder::Bytes;

struct Outcome {
  int rc;
  std::string out, err;
};

inline std::string slurp(const std::string& path) {
  Bytes b;
  std::string error;
  EXPECT_TRUE(jbbbuilder::readFile(path, &b, &error)) << error;
  return std::string(b.begin(), b.end());
}

inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline Bytes fileBytes(const std::string& path) {
  Bytes b;
  std::string error;
  jbbbuilder::readFile(path, &b, &error);
  return b;
}

// Three levels at fill 5 (400 entries), the shape every damage kind applies to.
inline std::vector<jbbbuilder::Entry> pathEntries(size_t n, uint64_t seed, bool mixed = false, size_t dataSize = 32) {
  std::vector<jbbbuilder::Key> keys = jbbbuilder::syntheticPaths(n, seed, u"/home", mixed);
  std::string error;
  EXPECT_TRUE(jbbbuilder::sortKeys(&keys, false, &error)) << error;
  return jbbbuilder::entriesFor(keys, dataSize, seed);
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    dir_ = ::testing::TempDir() + "jbbtool_" + std::to_string(osProcessId()) + "_" + name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Writes a bulk-loaded database; the image describes what was written
  // (its node pointers lead into root_, kept until the next build).
  jbbbuilder::BuiltImage build(const std::string& name, const std::vector<jbbbuilder::Entry>& entries,
                               const jbbbuilder::DbSpec& spec = jbbbuilder::DbSpec(), int fill = 8) {
    jbbbuilder::BulkOptions bulk;
    bulk.fill = fill;
    jbbbuilder::BuiltImage image;
    std::string error;
    EXPECT_TRUE(jbbbuilder::bulkLoad(entries, bulk, &root_, &error)) << error;
    EXPECT_TRUE(jbbbuilder::writeDatabase(path(name), root_, spec, &error, &image)) << error;
    return image;
  }

  // One subcommand with its output caught.
  Outcome run(const std::function<int(const jbbtool::Streams&)>& command) {
    std::string outPath = path("stdout.txt"), errPath = path("stderr.txt");
    jbbtool::Streams io;
    io.out = std::fopen(outPath.c_str(), "wb");
    io.err = std::fopen(errPath.c_str(), "wb");
    Outcome r{command(io), "", ""};
    std::fclose(io.out);
    std::fclose(io.err);
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
  }

  // salvage FILE --out OUT --force.
  Outcome salvageOver(const std::string& file, const std::string& out) {
    jbbtool::OutputOptions o;
    o.out = out;
    o.force = true;
    return run([&](const jbbtool::Streams& io) { return jbbtool::runSalvage(file, o, io); });
  }
  Outcome verify(const std::string& file) {
    return run([&](const jbbtool::Streams& io) { return jbbtool::runVerify(file, io); });
  }
  Outcome dump(const std::string& file, jbbtool::DumpFormat format = jbbtool::DumpFormat::Text) {
    return run([&](const jbbtool::Streams& io) { return jbbtool::runDump(file, format, io); });
  }
  Outcome load(const std::string& dumpFile, const std::string& out, bool force = false) {
    jbbtool::OutputOptions o;
    o.out = out;
    o.force = force;
    return run([&](const jbbtool::Streams& io) { return jbbtool::runLoad(dumpFile, o, io); });
  }
  Outcome salvage(const std::string& file, const std::string& out) {
    jbbtool::OutputOptions o;
    o.out = out;
    return run([&](const jbbtool::Streams& io) { return jbbtool::runSalvage(file, o, io); });
  }
  void writeBytes(const std::string& name, const Bytes& bytes) {
    std::string error;
    ASSERT_TRUE(jbbbuilder::writeFile(path(name), bytes, &error)) << error;
  }
  void writeText(const std::string& name, const std::string& text) {
    std::string error;
    ASSERT_TRUE(jbbbuilder::writeFile(path(name), Bytes(text.begin(), text.end()), &error)) << error;
  }

  std::string dir_;
  jbbbuilder::TreeNode root_;
};

}  // namespace tooltest
