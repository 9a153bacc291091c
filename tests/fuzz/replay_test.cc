// Every input of the fuzz corpus and every saved finding (fuzz/regressions)
// runs through the harness the fuzz targets use: none may crash, leak or
// trip a sanitizer, and each well-formed image must give the checker's
// results.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsOf(const std::string& target) {
  std::vector<fs::path> files;
  for (const char* set : {"corpus", "regressions"}) {
    fs::path dir = fs::path(JBB_FUZZ_INPUTS) / set / target;
    if (!fs::is_directory(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ReplayTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::remove(path.c_str());
    std::remove((path + ".in").c_str());
  }
  // Runs every input of the target; the viewer's output is captured.
  template <typename Run>
  void replay(const std::string& target, Run run) {
    std::vector<fs::path> files = inputsOf(target);
    ASSERT_FALSE(files.empty()) << "no inputs for " << target << " in " << JBB_FUZZ_INPUTS;
    for (const fs::path& file : files) {
      SCOPED_TRACE(file.filename().string());
      std::vector<uint8_t> data = contents(file);
      testing::internal::CaptureStdout();
      std::string failure = run(data.data(), data.size(), path);
      testing::internal::GetCapturedStdout();
      EXPECT_EQ(failure, "");
    }
  }
  std::string path = ::testing::TempDir() + "jbbfuzz_replay_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".jbbdb";
};

// Every input is checked against the checker here, not one in eight.
TEST_F(ReplayTest, ViewInputs) {
  replay("view", [](const uint8_t* d, size_t n, const std::string& p) { return jbbfuzz::runView(d, n, p); });
}

TEST_F(ReplayTest, DeleteInputs) {
  replay("delete", [](const uint8_t* d, size_t n, const std::string& p) { return jbbfuzz::runDelete(d, n, p); });
}

// The delete target's header read as the harness documents it: images of
// the view corpus behind a header run there too.
TEST_F(ReplayTest, ViewImagesUnderDeletions) {
  const uint8_t selectors[] = {1, 0x81, 2, 3, 0, 5, 8, 13};
  std::string header = jbbfuzz::deleteHeader(selectors, sizeof selectors);
  ASSERT_EQ(header.size(), 9u);
  replay("view", [&header](const uint8_t* data, size_t size, const std::string& path) {
    std::vector<uint8_t> input(header.begin(), header.end());
    input.insert(input.end(), data, data + size);
    return jbbfuzz::runDelete(input.data(), input.size(), path);
  });
}

}  // namespace
