// Key conversion, key files and synthetic paths.
#include "builder/keys.h"

#include <algorithm>
#include <cstdio>

#include "platform/utf8.h"

namespace jbbbuilder {

uint64_t Rng::next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

bool utf8ToKey(const std::string& text, Key* key, std::string* error) { return utf8ToUtf16(text, key, error); }

std::string keyToUtf8(const Key& key) {
  std::string out;
  appendUtf16AsUtf8(&out, key.data(), key.size());
  return out;
}

Key K(const char* utf8) {
  Key key;
  utf8ToKey(utf8, &key, nullptr);
  return key;
}

int compareKeys(const Key& a, const Key& b) {
  // std::u16string compares char16_t, an unsigned type: unit order.
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool readKeyFile(const std::string& path, std::vector<Key>* keys, std::string* error) {
  keys->clear();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    if (error) *error = "cannot open " + path;
    return false;
  }
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  bool readFailed = std::ferror(f) != 0;
  std::fclose(f);
  if (readFailed) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (size_t lineNo = 1; pos < text.size(); ++lineNo) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = end + 1;
    if (line.empty()) continue;
    Key key;
    std::string why;
    if (!utf8ToKey(line, &key, &why)) {
      if (error) *error = path + ":" + std::to_string(lineNo) + ": " + why;
      return false;
    }
    keys->push_back(std::move(key));
  }
  return true;
}

namespace {

const char16_t* const kDirs[] = {u"projects", u"docs", u"src", u"music", u"photos", u"mail",
                                 u"build", u"archive", u"notes", u"tmp", u"lib", u"share"};
const char16_t* const kStems[] = {u"report", u"main", u"index", u"data", u"image", u"draft",
                                  u"config", u"backup", u"summary", u"log", u"track", u"table"};
const char16_t* const kExts[] = {u".txt", u".cc", u".h", u".jpg", u".dat", u".doc", u".log", u""};
// Names that exercise units above ASCII: Latin-1, Greek, CJK (>= 0x8000),
// and a character outside the BMP (a surrogate pair).
const char16_t* const kMixed[] = {u"r\u00e9sum\u00e9", u"\u03a9mega", u"\u65e5\u672c\u8a9e",
                                  u"clef\U0001D11E", u"\uff21\uff22"};

template <size_t N>
const char16_t* pick(Rng& rng, const char16_t* const (&list)[N]) {
  return list[rng.below(N)];
}

Key numbered(uint64_t v, int width) {
  Key s;
  for (int i = 0; i < width || v; ++i, v /= 10) s.insert(s.begin(), char16_t(u'0' + v % 10));
  return s;
}

}  // namespace

std::vector<Key> sequentialKeys(size_t n, const Key& prefix, int width) {
  std::vector<Key> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) out.push_back(prefix + numbered(i, width));
  return out;
}

Key SyntheticPaths::next() {
  Key p = root_;
  p += u"/user";
  p += numbered(rng_.below(8), 1);
  int depth = 1 + int(rng_.below(3));
  for (int d = 0; d < depth; ++d) {
    p += u'/';
    p += (mixed_ && rng_.below(6) == 0) ? pick(rng_, kMixed) : pick(rng_, kDirs);
  }
  p += u'/';
  p += (mixed_ && rng_.below(5) == 0) ? pick(rng_, kMixed) : pick(rng_, kStems);
  // The running number makes every path distinct.
  p += u'_';
  p += numbered(made_++, 6);
  p += pick(rng_, kExts);
  return p;
}

std::vector<Key> syntheticPaths(size_t n, uint64_t seed, const Key& root, bool mixedScripts) {
  SyntheticPaths paths(seed, root, mixedScripts);
  std::vector<Key> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) out.push_back(paths.next());
  return out;
}

std::vector<size_t> treeOrder(const std::vector<Key>& keys) {
  // Big-endian bytes of the units compare with memcmp in unit order, which
  // is several times faster than comparing unit by unit.
  std::vector<std::pair<std::string, size_t>> sortable(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    std::string& be = sortable[i].first;
    be.resize(2 * keys[i].size());
    for (size_t k = 0; k < keys[i].size(); ++k) {
      be[2 * k] = char(keys[i][k] >> 8);
      be[2 * k + 1] = char(keys[i][k] & 0xFF);
    }
    sortable[i].second = i;
  }
  std::sort(sortable.begin(), sortable.end());
  std::vector<size_t> order(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) order[i] = sortable[i].second;
  return order;
}

bool sortKeys(std::vector<Key>* keys, bool removeDuplicates, std::string* error) {
  std::vector<size_t> order = treeOrder(*keys);
  std::vector<Key> sorted(keys->size());
  for (size_t i = 0; i < order.size(); ++i) sorted[i] = std::move((*keys)[order[i]]);
  keys->swap(sorted);
  auto dup = std::adjacent_find(keys->begin(), keys->end());
  if (dup == keys->end()) return true;
  if (!removeDuplicates) {
    if (error) *error = "duplicate key \"" + keyToUtf8(*dup) + "\"";
    return false;
  }
  keys->erase(std::unique(keys->begin(), keys->end()), keys->end());
  return true;
}

}  // namespace jbbbuilder
