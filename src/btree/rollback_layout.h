// Between rollback_commit.cc, which writes rollback files, and
// rollback.cc, which reads them: the file's content in memory, its
// encoding and its checksums (the layout is stated in rollback.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jbbrollback {

constexpr size_t kHeaderSize = 64;
constexpr uint32_t kSectorSize = 512;
// The checksum that marks a piece beyond the new length: it has no content.
constexpr uint64_t kAbsent = 0;

// One region of the database that the change touches.
struct Region {
  int64_t pos = 0;
  uint64_t length = 0;
  std::vector<uint8_t> old;       // the original bytes; empty past oldLength
  std::vector<uint64_t> newSums;  // one per sector piece
};

struct Record {
  uint64_t nonce = 0;
  uint64_t oldLength = 0;
  uint64_t newLength = 0;
  uint64_t highLength = 0;
  std::vector<Region> regions;
};

// A 64-bit checksum of n bytes, seeded: two different inputs, or one input
// under two seeds, agree only by chance (about 2^-64).  Never kAbsent.
uint64_t checksum(uint64_t seed, const uint8_t* bytes, size_t n);

// The pieces of [pos, pos + length) cut at every multiple of kSectorSize:
// calls piece(start, n) for each, in order.
template <class Piece>
void forEachPiece(int64_t pos, uint64_t length, Piece piece) {
  uint64_t at = uint64_t(pos), end = uint64_t(pos) + length;
  while (at < end) {
    uint64_t next = (at / kSectorSize + 1) * kSectorSize;
    if (next > end) next = end;
    piece(int64_t(at), size_t(next - at));
    at = next;
  }
}

std::vector<uint8_t> encode(const Record& r);
// False when the bytes are no complete, intact rollback file.
bool decode(const uint8_t* bytes, size_t n, Record* r);

}  // namespace jbbrollback
