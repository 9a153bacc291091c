// Bulk loading of sorted entries into a balanced tree held in memory, for
// the tests' layouts.  The shape is the engine's bulk writer's
// (btree/bulkshape.h): entries go in key order where its ShapeCursor
// places them, and each node it closes adopts the children that closed
// below it, so a tree built here is node for node the one the bulk writer
// writes.
#include <utility>

#include "btree/bulkshape.h"
#include "btree/format.h"
#include "builder/tree.h"

namespace jbbbuilder {

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
  jbbbulk::FillOptions fill;
  fill.fill = options.fill;
  fill.fillOf = options.fillOf;
  // Per level: the node taking entries, and the nodes closed but not yet
  // adopted, which are exactly the children of the next node to close
  // above them.  The cursor closes an empty root as it is made, before
  // its height is known here.
  std::vector<TreeNode> open;
  std::vector<std::vector<TreeNode>> waiting;
  auto onClose = [&](const jbbbulk::ShapeNode& n) {
    size_t level = size_t(n.level);
    if (open.size() <= level) {
      open.resize(level + 1);
      waiting.resize(level + 1);
    }
    TreeNode node = std::move(open[level]);
    open[level] = TreeNode();
    if (level > 0) {
      node.children = std::move(waiting[level - 1]);
      waiting[level - 1].clear();
    }
    waiting[level].push_back(std::move(node));
  };
  jbbbulk::ShapeCursor cursor(entries.size(), fill, onClose);
  open.resize(size_t(cursor.height()));
  waiting.resize(size_t(cursor.height()));
  for (Entry& e : entries) {
    open[size_t(cursor.level())].entries.push_back(std::move(e));
    cursor.advance();
  }
  *root = std::move(waiting[size_t(cursor.height()) - 1].back());
  return true;
}

}  // namespace jbbbuilder
