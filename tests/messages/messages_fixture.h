// A message state for tests: a repository file made by RepositoryImage, the
// display functions recording what they are given, and a lock handle
// (mutexBypass makes it succeed).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "messages/amsgrtrv.h"
#include "messages/GlobalRC.h"
#include "messages/logutils.h"
#include "platform/psstr.h"
#include "../trace/tracetest_util.h"

namespace jbbtest {

struct Piece {
  Piece(int s, std::string t, std::string r = "") : severity(s), text(std::move(t)), response(std::move(r)) {}
  int severity;
  std::string text;
  std::string response;
};

// Builds a repository: the index first, then the records, each starting on
// a 64-byte boundary.
class RepositoryImage {
 public:
  void add(uint16_t msgNum, std::vector<Piece> pieces) { messages_[msgNum] = std::move(pieces); }
  // An index entry that names no record.
  void addEmptyIndex(uint16_t msgNum) { messages_[msgNum] = {}; }

  std::string bytes() const {
    uint16_t highest = messages_.empty() ? 0 : messages_.rbegin()->first;
    size_t indexEnd = 2 * (size_t(highest) + 32);
    std::string out(indexEnd, '\0');
    for (const auto& [num, pieces] : messages_) {
      if (pieces.empty()) continue;
      out.resize((out.size() + 63) / 64 * 64, '\0');
      size_t record = out.size() / 64 + 1;
      out[2 * (num + 31)] = char(record >> 8);
      out[2 * (num + 31) + 1] = char(record & 0xFF);
      for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece& p = pieces[i];
        unsigned header = unsigned(p.text.size()) | unsigned(p.response.size()) << 8 |
                          unsigned(p.severity) << 11 | (i + 1 < pieces.size() ? 0x8000u : 0u);
        out += char(header >> 8);
        out += char(header & 0xFF);
        out += p.response;
        out += p.text;
      }
    }
    return out;
  }

 private:
  std::map<uint16_t, std::vector<Piece>> messages_;
};

// Builds the ordered-insert form of a text (see messages/nlorder.h).
struct OrderedInsert {
  int leading;
  int kind;
  std::string conversion;
};
inline std::string orderedText(uint32_t wideMask, const std::vector<int>& order, const std::vector<OrderedInsert>& ins,
                               const std::vector<std::string>& pieces) {
  std::string t(1, '\0');
  for (int shift = 24; shift >= 0; shift -= 8) t += char((wideMask >> shift) & 0xFF);
  t += char(ins.size());
  for (int o : order) t += char(o);
  for (const auto& d : ins) {
    t += char(d.leading);
    t += char(d.kind);
    t += d.conversion;
    t += '\0';
  }
  for (const auto& p : pieces) {
    t += p;
    t += '\0';
  }
  return t;
}

inline std::vector<std::pair<int, std::string>>& shownTexts() {
  static std::vector<std::pair<int, std::string>> shown;
  return shown;
}

template <int Severity>
void recordShown(const wchar16* text) {
  char narrow[MAX_CONV + 1];
  wideToMb(narrow, text);
  shownTexts().emplace_back(Severity, narrow);
}

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = std::make_unique<NlsState>();
    *state_ = NlsState{};
    std::snprintf(state_->msgPrefix, sizeof state_->msgPrefix, "KVE");
    std::snprintf(state_->reposName, sizeof state_->reposName, "test.rep");
    state_->cacheLimit = 10;
    state_->lineStart = 1;
    state_->lock = &lock_;
    state_->display[0] = recordShown<0>;
    state_->display[1] = recordShown<1>;
    state_->display[2] = recordShown<2>;
    state_->display[3] = recordShown<3>;
    state_->display[4] = recordShown<4>;
    state_->display[5] = recordShown<5>;
    state_->display[6] = recordShown<6>;
    state_->display[7] = recordShown<7>;
    state_->display[8] = recordShown<8>;
    nlsState = state_.get();
    shownTexts().clear();
  }
  void TearDown() override {
    nlsReleaseCaches();
    for (FILE*& f : state_->repos)
      if (f != nullptr) std::fclose(f);
    for (LogState* log : {&errorLog, &secondLog}) {
      if (log->stream != nullptr) std::fclose(log->stream);
      *log = LogState{};
    }
    errorLogOn = secondLogOn = secondLogSelected = 0;
    logEndMarker = logWrapText = nullptr;
    nlsState = nullptr;
    globalRC = nullptr;
    shownTexts().clear();
  }

  // Writes the image and opens it as the primary (or secondary) repository.
  void openRepository(const RepositoryImage& image, bool secondary = false) {
    std::string path = dir_.file(secondary ? "second.rep" : "first.rep");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string bytes = image.bytes();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    state_->repos[secondary ? 1 : 0] = std::fopen(path.c_str(), "rb");
    ASSERT_NE(state_->repos[secondary ? 1 : 0], nullptr);
  }
  // Forgets the repository, so that only cached messages can be found.
  void closeRepository() {
    std::fclose(state_->repos[0]);
    state_->repos[0] = nullptr;
  }
  std::string file(const std::string& name) const { return dir_.file(name); }

  std::unique_ptr<NlsState> state_;
  psMutex lock_ = nullptr;
  TempDir dir_;
};

}  // namespace jbbtest
