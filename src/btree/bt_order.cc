// The model of what the tree on file reaches during a flush (bt_order.h).
#include "btree/bt_order.h"

#include <algorithm>
#include <iterator>

namespace jbbstorage {

void TreeOnFile::addNode(int32_t s, NodeView onFile, bool changed, NodeView next) {
  Node& n = nodes_[s];
  n.file = std::move(onFile);
  n.next = std::move(next);
  n.changed = changed;
}

void TreeOnFile::setRoots(int32_t fileRoot, int32_t newRoot) {
  root_ = fileRoot;
  newRoot_ = newRoot;
}

void TreeOnFile::start() {
  // A node of the flush that no node of the flush refers to on file hangs
  // from an untouched node (or is the root).
  std::set<int32_t> referred;
  for (const auto& [s, n] : nodes_)
    for (int32_t r : n.file.refs) referred.insert(r);
  for (const auto& [s, n] : nodes_)
    if (referred.count(s) == 0 && s != root_) tops_.push_back(s);
  Reach before = reach(0, root_);
  Reach after = reach(0, newRoot_, true);
  std::set_intersection(before.keys.begin(), before.keys.end(), after.keys.begin(), after.keys.end(),
                        std::inserter(required_.keys, required_.keys.end()));
  std::set_intersection(before.tokens.begin(), before.tokens.end(), after.tokens.begin(), after.tokens.end(),
                        std::inserter(required_.tokens, required_.tokens.end()));
}

TreeOnFile::Reach TreeOnFile::reach(int32_t swapped, int32_t root, bool allNew) const {
  Reach r;
  std::vector<int32_t> stack(tops_);
  stack.push_back(root);
  std::set<int32_t> seen;
  while (!stack.empty()) {
    int32_t s = stack.back();
    stack.pop_back();
    if (s == 0 || !seen.insert(s).second) continue;
    auto it = nodes_.find(s);
    if (it == nodes_.end()) {
      r.tokens.insert(s);
      continue;
    }
    const Node& n = it->second;
    bool inNewForm = allNew || n.written || s == swapped;
    if (inNewForm && !n.changed) continue;  // a free slot reaches nothing
    const NodeView& v = inNewForm ? n.next : n.file;
    r.keys.insert(v.keys.begin(), v.keys.end());
    stack.insert(stack.end(), v.refs.begin(), v.refs.end());
  }
  return r;
}

bool TreeOnFile::covers(const Reach& r) const {
  return std::includes(r.keys.begin(), r.keys.end(), required_.keys.begin(), required_.keys.end()) &&
         std::includes(r.tokens.begin(), r.tokens.end(), required_.tokens.begin(), required_.tokens.end());
}

bool TreeOnFile::safeToWrite(int32_t s) const { return covers(reach(s, root_)); }

void TreeOnFile::written(int32_t s) { nodes_[s].written = true; }

bool TreeOnFile::safeToRenameRoot() const { return covers(reach(0, newRoot_)); }

void TreeOnFile::rootRenamed() { root_ = newRoot_; }

}  // namespace jbbstorage
