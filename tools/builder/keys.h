// Keys for test databases: UTF-8 <-> UTF-16 conversion done here (never
// through the C locale, so every host and test produces the same units),
// key files with one key per line, and deterministic synthetic file paths.
//
// A key is a std::u16string of 16-bit code units without a zero unit; the
// database stores it zero-terminated.  Keys order by unsigned 16-bit units,
// exactly as the B-tree compares them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jbbbuilder {

typedef std::u16string Key;

// Strict UTF-8 decoding: overlong forms, encoded surrogates, values above
// U+10FFFF and truncated sequences are refused (false, *error says where).
// Characters above U+FFFF become surrogate pairs.
bool utf8ToKey(const std::string& text, Key* key, std::string* error);
// UTF-8 for display and dumps; an unpaired surrogate shows as U+FFFD.
std::string keyToUtf8(const Key& key);
// Convenience for tests: ASCII or UTF-8 text that is known to be valid.
Key K(const char* utf8);

// The key order of the tree: -1, 0 or 1, by unsigned 16-bit units; a prefix
// sorts first.
int compareKeys(const Key& a, const Key& b);

// Reads a text file of keys, one per line, in UTF-8 (an initial byte order
// mark is skipped, a CR before the LF is dropped, empty lines are skipped).
// A line that is not valid UTF-8 fails the read with its line number.
bool readKeyFile(const std::string& path, std::vector<Key>* keys, std::string* error);

// n distinct fully qualified file paths below `root`, the same for the same
// (n, seed) on every host; unsorted.  With mixedScripts, some names carry
// accented letters, units of 0x8000 and above and surrogate pairs.
std::vector<Key> syntheticPaths(size_t n, uint64_t seed, const Key& root = u"/home",
                                bool mixedScripts = false);

// n keys prefix + zero-padded running number ("k0000", "k0001", ...), in
// tree order as long as the numbers keep to `width` digits.
std::vector<Key> sequentialKeys(size_t n, const Key& prefix = u"k", int width = 4);

// The order in which `keys` are in tree order (stable for equal keys).
std::vector<size_t> treeOrder(const std::vector<Key>& keys);

// Sorts keys into tree order.  With removeDuplicates, equal keys are kept
// once; otherwise a duplicate fails (false, *error names it).
bool sortKeys(std::vector<Key>* keys, bool removeDuplicates, std::string* error);

// A small deterministic generator (splitmix64), identical on every host.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next();
  // Uniform in [0, bound); bound > 0.
  uint64_t below(uint64_t bound) { return next() % bound; }

 private:
  uint64_t state_;
};

// The paths of syntheticPaths one at a time, for more than memory holds:
// the ith call of next() gives its ith path.
class SyntheticPaths {
 public:
  explicit SyntheticPaths(uint64_t seed, const Key& root = u"/home", bool mixedScripts = false)
      : rng_(seed), root_(root), mixed_(mixedScripts) {}
  Key next();

 private:
  Rng rng_;
  Key root_;
  bool mixed_;
  size_t made_ = 0;
};

}  // namespace jbbbuilder
