// The bulk-loaded tree's shape, walked in key order (bulkshape.h).
#include "btree/bulkshape.h"

#include <algorithm>

using namespace jbbformat;

namespace jbbbulk {

namespace {

constexpr uint64_t kHuge = uint64_t(1) << 60;  // saturation for sizes

uint64_t sat(uint64_t v) { return v > kHuge ? kHuge : v; }

// Entries in a subtree of height h whose nodes all hold `per` entries.
uint64_t uniformSize(int h, uint64_t per) {
  uint64_t s = 0;
  for (int i = 0; i < h; ++i) s = sat(per + (per + 1) * s);
  return s;
}
uint64_t minSize(int h) { return uniformSize(h, kMinFill); }
uint64_t maxSize(int h) { return uniformSize(h, kMaxEntries); }

// The height of the tree for n entries at the wanted fill, made feasible.
int heightFor(uint64_t n, int fill) {
  int h = 1;
  while (n > kMaxEntries + (kMaxEntries + 1) * uniformSize(h - 1, uint64_t(fill))) ++h;
  while (h > 1 && n < 1 + 2 * minSize(h - 1)) --h;
  while (n > maxSize(h)) ++h;
  return h;
}

}  // namespace

ShapeCursor::ShapeCursor(uint64_t entries, const FillOptions& options, std::function<void(const ShapeNode&)> onClose)
    : ShapeCursor(entries, options, std::move(onClose), false) {}

ShapeCursor::ShapeCursor(uint64_t entries, const FillOptions& options, std::function<void(const ShapeNode&)> onClose,
                         bool dry)
    : options_(options), onClose_(std::move(onClose)), height_(heightFor(entries, options.fill)), dry_(dry) {
  ordinals_.assign(size_t(height_), 0);
  stack_.reserve(size_t(height_));  // frames are referred to across push()
  push(entries, height_ - 1, true);
  settle();
}

std::vector<int64_t> ShapeCursor::levelSizes(uint64_t entries, const FillOptions& options) {
  return ShapeCursor(entries, options, nullptr, true).ordinals_;
}

void ShapeCursor::advance() {
  ++stack_.back().count;
  settle();
}

// Walks on until the top frame is the node that takes the next entry,
// closing the nodes that are complete on the way.
void ShapeCursor::settle() {
  while (!stack_.empty()) {
    Frame& f = stack_.back();
    if (f.level == 0) {
      if (dry_) f.count = f.k;
      if (f.count < f.k) return;
      close();
    } else if (f.childrenDone == f.k + 1) {
      close();
    } else if (f.count < f.childrenDone) {  // the entry between two children is due
      if (!dry_) return;
      ++f.count;
    } else {
      push(f.sizes[f.childrenDone], f.level - 1, false);
    }
  }
}

void ShapeCursor::close() {
  const Frame& f = stack_.back();
  if (onClose_) onClose_(ShapeNode{f.level, f.ordinal, f.count, f.firstChild});
  stack_.pop_back();
  if (!stack_.empty()) ++stack_.back().childrenDone;
}

// A node over m entries, at `level` of a tree; its k and its children's
// sizes are settled now, before any node to its right is begun, as the
// counts wanted for its children depend on their places in their level.
void ShapeCursor::push(uint64_t m, int level, bool isRoot) {
  Frame f;
  f.level = level;
  f.ordinal = ordinals_[size_t(level)]++;
  if (level == 0) {
    f.k = int(m);  // a leaf holds at most maxSize(1) = 10
  } else {
    int h = level + 1;
    f.k = countFor(m, h, isRoot, level, f.ordinal);
    f.firstChild = ordinals_[size_t(level - 1)];
    childSizes(m - uint64_t(f.k), f.k + 1, h - 1, level - 1, f.sizes);
  }
  stack_.push_back(f);
}

int ShapeCursor::wanted(int level, int64_t ordinal) const {
  int w = options_.fillOf ? options_.fillOf(level, int(ordinal)) : 0;
  return w > 0 ? w : options_.fill;
}

// The entry count of an interior node of height h over m entries.
int ShapeCursor::countFor(uint64_t m, int h, bool isRoot, int level, int64_t ordinal) const {
  uint64_t mn = minSize(h - 1), mx = maxSize(h - 1);
  // k children of at most mx entries each need k >= ceil((m - mx) / (mx + 1)),
  // which is m / (mx + 1); at least mn each need k <= (m - mn) / (mn + 1).
  int64_t kmin = std::max<int64_t>(int64_t(m / (mx + 1)), isRoot ? 1 : kMinFill);
  int64_t kmax = std::min<int64_t>(kMaxEntries, int64_t((m - mn) / (mn + 1)));
  int64_t k;
  if (isRoot && !(options_.fillOf && options_.fillOf(level, int(ordinal)) > 0)) {
    // A root by default holds what its children need at the wanted fill.
    uint64_t child = uniformSize(h - 1, uint64_t(options_.fill));
    k = int64_t((m + 1 + (child + 1) / 2) / (child + 1)) - 1;
  } else {
    k = wanted(level, ordinal);
  }
  return int(std::max(kmin, std::min(kmax, k)));
}

// Sizes of `count` subtrees of height h summing to `total`; the subtrees
// are the next `count` nodes of `level`.
void ShapeCursor::childSizes(uint64_t total, int count, int h, int level, uint64_t* sizes) const {
  uint64_t mn = minSize(h), mx = maxSize(h);
  uint64_t sum = 0;
  for (int i = 0; i < count; ++i) {
    uint64_t w = uint64_t(wanted(level, ordinals_[size_t(level)] + i));
    uint64_t s = w + (w + 1) * uniformSize(h - 1, uint64_t(options_.fill));
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
}

}  // namespace jbbbulk
