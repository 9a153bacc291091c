// Shape text, tree measures and entry lists.
#include "builder/tree.h"

#include <algorithm>

namespace jbbbuilder {

namespace {

void appendShape(const TreeNode& n, std::string* out) {
  *out += '[';
  for (size_t i = 0; i < n.entries.size(); ++i) {
    if (i) *out += ' ';
    *out += keyToUtf8(n.entries[i].key);
  }
  *out += ']';
  if (n.children.empty()) return;
  *out += " (";
  for (size_t i = 0; i < n.children.size(); ++i) {
    if (i) *out += ' ';
    appendShape(n.children[i], out);
  }
  *out += ')';
}

bool isKeyChar(char c) { return c != ' ' && c != '[' && c != ']' && c != '(' && c != ')'; }

class ShapeParser {
 public:
  ShapeParser(const std::string& text, size_t dataSize) : s_(text), dataSize_(dataSize) {}

  bool parse(TreeNode* root, std::string* error) {
    bool ok = node(root, 0);
    skipBlanks();
    if (ok && pos_ != s_.size()) ok = fail("unexpected text");
    if (!ok && error) *error = error_;
    return ok;
  }

 private:
  bool fail(const std::string& why) {
    error_ = "shape text, offset " + std::to_string(pos_) + ": " + why;
    return false;
  }
  void skipBlanks() {
    while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
  }
  bool node(TreeNode* n, int depth) {
    if (depth > 64) return fail("nesting too deep");
    skipBlanks();
    if (pos_ >= s_.size() || s_[pos_] != '[') return fail("'[' expected");
    ++pos_;
    for (;;) {
      skipBlanks();
      if (pos_ < s_.size() && s_[pos_] == ']') break;
      size_t start = pos_;
      while (pos_ < s_.size() && isKeyChar(s_[pos_])) ++pos_;
      if (pos_ == start) return fail("key or ']' expected");
      Entry e;
      std::string why;
      if (!utf8ToKey(s_.substr(start, pos_ - start), &e.key, &why)) return fail(why);
      e.data = keyData(e.key, dataSize_);
      n->entries.push_back(std::move(e));
    }
    ++pos_;
    size_t save = pos_;
    skipBlanks();
    if (pos_ >= s_.size() || s_[pos_] != '(') {
      pos_ = save;
      return true;
    }
    ++pos_;
    for (;;) {
      skipBlanks();
      if (pos_ < s_.size() && s_[pos_] == ')') break;
      n->children.emplace_back();
      if (!node(&n->children.back(), depth + 1)) return false;
    }
    ++pos_;
    if (n->children.size() != n->entries.size() + 1)
      return fail("a node of " + std::to_string(n->entries.size()) + " keys needs " +
                  std::to_string(n->entries.size() + 1) + " children");
    return true;
  }

  const std::string& s_;
  size_t dataSize_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::string shapeOf(const TreeNode& root) {
  std::string out;
  appendShape(root, &out);
  return out;
}

size_t entryCountOf(const TreeNode& n) {
  size_t total = n.entries.size();
  for (const TreeNode& c : n.children) total += entryCountOf(c);
  return total;
}

size_t nodeCountOf(const TreeNode& n) {
  size_t total = 1;
  for (const TreeNode& c : n.children) total += nodeCountOf(c);
  return total;
}

int heightOf(const TreeNode& n) {
  int h = 0;
  for (const TreeNode& c : n.children) h = std::max(h, heightOf(c));
  return h + 1;
}

bool parseShape(const std::string& text, size_t dataSize, TreeNode* root, std::string* error) {
  *root = TreeNode();
  return ShapeParser(text, dataSize).parse(root, error);
}

bool sortEntries(std::vector<Entry>* entries, bool removeDuplicates, std::string* error) {
  auto equal = [](const Entry& a, const Entry& b) { return a.key == b.key; };
  std::vector<Key> keys(entries->size());
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = (*entries)[i].key;
  std::vector<size_t> order = treeOrder(keys);
  std::vector<Entry> sorted(entries->size());
  for (size_t i = 0; i < order.size(); ++i) sorted[i] = std::move((*entries)[order[i]]);
  entries->swap(sorted);
  auto dup = std::adjacent_find(entries->begin(), entries->end(), equal);
  if (dup == entries->end()) return true;
  if (!removeDuplicates) {
    if (error) *error = "duplicate key \"" + keyToUtf8(dup->key) + "\"";
    return false;
  }
  entries->erase(std::unique(entries->begin(), entries->end(), equal), entries->end());
  return true;
}

std::vector<Entry> entriesFor(const std::vector<Key>& keys, size_t dataSize, uint64_t seed) {
  std::vector<Entry> out;
  out.reserve(keys.size());
  for (const Key& k : keys) out.push_back(Entry{k, keyData(k, dataSize, seed)});
  return out;
}

}  // namespace jbbbuilder
