// Bulk loading of sorted entries into a balanced tree.
//
// The shape is chosen top down.  For a subtree of height h (1 = a leaf)
// the entry counts that can be built are [minSize(h), maxSize(h)] (every
// node 5..10 entries); a node holding k entries over m entries is feasible
// when its k + 1 children can share the other m - k.  Each node takes the
// count wanted for it, clamped into its feasible range, and hands its
// children the sizes their own wanted counts imply; what is left over (or
// missing) goes to the rightmost children, so nodes on the left keep the
// counts asked for.
#include <algorithm>

#include "btree/format.h"
#include "builder/tree.h"

namespace jbbbuilder {

namespace {

constexpr uint64_t kHuge = uint64_t(1) << 60;  // saturation for sizes

uint64_t sat(uint64_t v) { return v > kHuge ? kHuge : v; }

// Entries in a subtree of height h whose nodes all hold `per` entries.
uint64_t uniformSize(int h, uint64_t per) {
  uint64_t s = 0;
  for (int i = 0; i < h; ++i) s = sat(per + (per + 1) * s);
  return s;
}
uint64_t minSize(int h) { return uniformSize(h, jbbformat::kMinFill); }
uint64_t maxSize(int h) { return uniformSize(h, jbbformat::kMaxEntries); }

class Loader {
 public:
  Loader(std::vector<Entry>& entries, const BulkOptions& o, int height)
      : entries_(entries), opt_(o), ordinals_(height, 0) {}

  TreeNode build(size_t lo, uint64_t m, int h, bool isRoot) {
    TreeNode n;
    int level = h - 1;
    int ordinal = ordinals_[level]++;
    if (h == 1) {
      n.entries.reserve(m);
      for (uint64_t i = 0; i < m; ++i) n.entries.push_back(std::move(entries_[lo + i]));
      return n;
    }
    int k = countFor(m, h, isRoot, level, ordinal);
    std::vector<uint64_t> sizes = childSizes(m - k, k + 1, h - 1, level - 1);
    n.entries.reserve(k);
    n.children.reserve(k + 1);
    size_t pos = lo;
    for (int i = 0; i <= k; ++i) {
      n.children.push_back(build(pos, sizes[i], h - 1, false));
      pos += sizes[i];
      if (i < k) n.entries.push_back(std::move(entries_[pos++]));
    }
    return n;
  }

 private:
  int wanted(int level, int ordinal) const {
    int w = opt_.fillOf ? opt_.fillOf(level, ordinal) : 0;
    return w > 0 ? w : opt_.fill;
  }

  // The entry count of an interior node of height h over m entries.
  int countFor(uint64_t m, int h, bool isRoot, int level, int ordinal) const {
    uint64_t mn = minSize(h - 1), mx = maxSize(h - 1);
    // k children of at most mx entries each need k >= ceil((m - mx) / (mx + 1)),
    // which is m / (mx + 1); at least mn each need k <= (m - mn) / (mn + 1).
    int64_t kmin = std::max<int64_t>(int64_t(m / (mx + 1)), isRoot ? 1 : jbbformat::kMinFill);
    int64_t kmax = std::min<int64_t>(jbbformat::kMaxEntries, int64_t((m - mn) / (mn + 1)));
    int64_t k;
    if (isRoot && !(opt_.fillOf && opt_.fillOf(level, ordinal) > 0)) {
      // A root by default holds what its children need at the wanted fill.
      uint64_t child = uniformSize(h - 1, uint64_t(opt_.fill));
      k = int64_t((m + 1 + (child + 1) / 2) / (child + 1)) - 1;
    } else {
      k = wanted(level, ordinal);
    }
    return int(std::max(kmin, std::min(kmax, k)));
  }

  // Sizes of `count` subtrees of height h summing to `total`; the subtrees
  // are the next `count` nodes of `level`.
  std::vector<uint64_t> childSizes(uint64_t total, int count, int h, int level) const {
    uint64_t mn = minSize(h), mx = maxSize(h);
    std::vector<uint64_t> sizes(count);
    uint64_t sum = 0;
    for (int i = 0; i < count; ++i) {
      uint64_t w = uint64_t(wanted(level, ordinals_[level] + i));
      uint64_t s = w + (w + 1) * uniformSize(h - 1, uint64_t(opt_.fill));
      sizes[i] = std::max(mn, std::min(mx, s));
      sum += sizes[i];
    }
    for (int i = count - 1; i >= 0 && sum < total; --i) {
      uint64_t add = std::min(mx - sizes[i], total - sum);
      sizes[i] += add;
      sum += add;
    }
    for (int i = count - 1; i >= 0 && sum > total; --i) {
      uint64_t sub = std::min(sizes[i] - mn, sum - total);
      sizes[i] -= sub;
      sum -= sub;
    }
    return sizes;
  }

  std::vector<Entry>& entries_;
  const BulkOptions& opt_;
  std::vector<int> ordinals_;  // nodes built so far, per level
};

// The height of the tree for n entries at the wanted fill, made feasible.
int heightFor(uint64_t n, int fill) {
  int h = 1;
  while (n > jbbformat::kMaxEntries + (jbbformat::kMaxEntries + 1) * uniformSize(h - 1, fill)) ++h;
  while (h > 1 && n < 1 + 2 * minSize(h - 1)) --h;
  while (n > maxSize(h)) ++h;
  return h;
}

}  // namespace

bool bulkLoad(std::vector<Entry> entries, const BulkOptions& options, TreeNode* root,
              std::string* error) {
  if (options.fill < jbbformat::kMinFill || options.fill > jbbformat::kMaxEntries) {
    if (error) *error = "fill must be 5..10";
    return false;
  }
  for (size_t i = 1; i < entries.size(); ++i) {
    if (!(entries[i - 1].key < entries[i].key)) {
      if (error) *error = "keys not strictly ascending at \"" + keyToUtf8(entries[i].key) + "\"";
      return false;
    }
  }
  int h = heightFor(entries.size(), options.fill);
  Loader loader(entries, options, h);
  *root = loader.build(0, entries.size(), h, true);
  return true;
}

}  // namespace jbbbuilder
