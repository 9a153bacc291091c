// The model of what the tree on file reaches during a flush (bt_order.h).
#include "btree/bt_order.h"

#include <algorithm>

namespace jbbstorage {

void TreeOnFile::addNode(int32_t s, NodeView onFile, bool changed, NodeView next) {
  Input& n = input_[s];
  n.file = std::move(onFile);
  n.next = std::move(next);
  n.changed = changed;
}

void TreeOnFile::setRoots(int32_t fileRoot, int32_t newRoot) {
  root_ = fileRoot;
  newRoot_ = newRoot;
}

int32_t TreeOnFile::nodeOf(int32_t s) const {
  auto it = std::lower_bound(subs_.begin(), subs_.end(), s);
  return it != subs_.end() && *it == s ? int32_t(it - subs_.begin()) : -1;
}

// A subscript as a reference: a modelled node, else a token (numbered as
// they come), or nothing for 0.
int32_t TreeOnFile::refTo(int32_t s, std::unordered_map<int32_t, int32_t>& tokens) {
  if (s == 0) return kNone;
  int32_t n = nodeOf(s);
  if (n >= 0) return n;
  auto it = tokens.emplace(s, int32_t(tokens.size())).first;
  return -1 - it->second;
}

// Visits what the tree reaches from the roots, each node once, in the form
// the file holds (its new one when written, or when it is `swapped`, or
// with `allNew` for every node).
template <class Visit>
void TreeOnFile::walk(int32_t swapped, int32_t rootRef, bool allNew, Visit visit) {
  if (++epoch_ == 0) {
    std::fill(seen_.begin(), seen_.end(), 0);
    std::fill(keySeen_.begin(), keySeen_.end(), 0);
    std::fill(tokenSeen_.begin(), tokenSeen_.end(), 0);
    epoch_ = 1;
  }
  work_.assign(tops_.begin(), tops_.end());
  if (rootRef != kNone) work_.push_back(rootRef);
  while (!work_.empty()) {
    int32_t r = work_.back();
    work_.pop_back();
    if (r < 0) {
      visit(nullptr, -1 - r);
      continue;
    }
    if (seen_[size_t(r)] == epoch_) continue;
    seen_[size_t(r)] = epoch_;
    const Node& n = nodes_[size_t(r)];
    const Form& f = n.form[allNew || r == swapped ? 1 : size_t(n.cur)];
    visit(&f, 0);
    work_.insert(work_.end(), f.refs.begin(), f.refs.end());
  }
}

bool TreeOnFile::coveredByWalk(int32_t swapped, int32_t rootRef) {
  size_t found = 0;
  walk(swapped, rootRef, false, [&](const Form* f, int32_t token) {
    if (f == nullptr) {
      if (tokenSeen_[size_t(token)] != epoch_) tokenSeen_[size_t(token)] = epoch_, ++found;
      return;
    }
    for (int32_t k : f->keys)
      if (keySeen_[size_t(k)] != epoch_) keySeen_[size_t(k)] = epoch_, ++found;
  });
  return found == keyCount_ + tokenCount_;
}

void TreeOnFile::start() {
  subs_.clear();
  for (const auto& [s, n] : input_) subs_.push_back(s);
  nodes_.assign(subs_.size(), Node());
  seen_.assign(subs_.size(), 0);

  // A node of the flush that no node of the flush refers to on file hangs
  // from an untouched node (or is the root).
  std::vector<bool> referred(subs_.size());
  for (const auto& [s, n] : input_)
    for (int32_t r : n.file.refs)
      if (int32_t i = nodeOf(r); i >= 0) referred[size_t(i)] = true;
  for (size_t i = 0; i < subs_.size(); ++i)
    if (!referred[i] && subs_[i] != root_) tops_.push_back(int32_t(i));

  // Every key and token numbered; a released node's new form is empty.
  std::unordered_map<std::u16string, int32_t> keyIds;
  std::unordered_map<int32_t, int32_t> tokenIds;
  auto formOf = [&](const NodeView& v) {
    Form f;
    for (const std::u16string& k : v.keys) f.keys.push_back(keyIds.emplace(k, int32_t(keyIds.size())).first->second);
    for (int32_t r : v.refs)
      if (int32_t ref = refTo(r, tokenIds); ref != kNone) f.refs.push_back(ref);
    return f;
  };
  size_t i = 0;
  for (const auto& [s, n] : input_) {
    nodes_[i].form[0] = formOf(n.file);
    if (n.changed) nodes_[i].form[1] = formOf(n.next);
    ++i;
  }
  input_.clear();
  rootRef_ = refTo(root_, tokenIds);
  newRootRef_ = refTo(newRoot_, tokenIds);

  // What must stay reached: what the tree reaches now and at the end.
  keySeen_.assign(keyIds.size(), 0);
  tokenSeen_.assign(tokenIds.size(), 0);
  std::vector<uint8_t> keyReach(keyIds.size()), tokenReach(tokenIds.size());
  auto mark = [&](const Form* f, int32_t token) {
    if (f == nullptr) {
      tokenReach[size_t(token)] |= 1;
      return;
    }
    for (int32_t k : f->keys) keyReach[size_t(k)] |= 1;
  };
  walk(-1, rootRef_, false, mark);
  for (auto& b : keyReach) b <<= 1;
  for (auto& b : tokenReach) b <<= 1;
  walk(-1, newRootRef_, true, mark);
  std::vector<int32_t> keyNumber(keyIds.size(), kNone), tokenNumber(tokenIds.size(), kNone);
  keyCount_ = tokenCount_ = 0;
  for (size_t k = 0; k < keyReach.size(); ++k)
    if (keyReach[k] == 3) keyNumber[k] = int32_t(keyCount_++);
  for (size_t t = 0; t < tokenReach.size(); ++t)
    if (tokenReach[t] == 3) tokenNumber[t] = int32_t(tokenCount_++);

  // Only what must stay reached is counted: other keys go, and tokens lead
  // nowhere.
  auto keep = [&](int32_t ref) {
    if (ref >= 0 || ref == kNone) return ref;
    int32_t t = tokenNumber[size_t(-1 - ref)];
    return t == kNone ? kNone : -1 - t;
  };
  for (Node& n : nodes_)
    for (Form& f : n.form) {
      std::vector<int32_t> keys, refs;
      for (int32_t k : f.keys)
        if (keyNumber[size_t(k)] != kNone) keys.push_back(keyNumber[size_t(k)]);
      for (int32_t r : f.refs)
        if (int32_t ref = keep(r); ref != kNone) refs.push_back(ref);
      f.keys = std::move(keys);
      f.refs = std::move(refs);
    }
  rootRef_ = keep(rootRef_);
  newRootRef_ = keep(newRootRef_);
  keySeen_.assign(keyCount_, 0);
  tokenSeen_.assign(tokenCount_, 0);

  // Whether the references, old and new together, form a cycle: each node
  // is taken once all that refer to it are.
  std::vector<int32_t> referrers(nodes_.size());
  for (const Node& n : nodes_)
    for (const Form& f : n.form)
      for (int32_t r : f.refs)
        if (r >= 0) ++referrers[size_t(r)];
  work_.clear();
  for (size_t n = 0; n < nodes_.size(); ++n)
    if (referrers[n] == 0) work_.push_back(int32_t(n));
  size_t taken = 0;
  while (!work_.empty()) {
    int32_t n = work_.back();
    work_.pop_back();
    ++taken;
    for (const Form& f : nodes_[size_t(n)].form)
      for (int32_t r : f.refs)
        if (r >= 0 && --referrers[size_t(r)] == 0) work_.push_back(r);
  }
  acyclic_ = taken == nodes_.size();

  keyHolders_.assign(keyCount_, 0);
  tokenRefs_.assign(tokenCount_, 0);
  missing_ = keyCount_ + tokenCount_;
  if (acyclic_) {
    raise(tops_);
    setRootRef(rootRef_, kNone);
  }
}

// The counts after references to `refs` are added (raise) or taken away
// (lower), with what the nodes they make reached (or no longer reached)
// hold and refer to.  In one call counts only grow, or only fall.
void TreeOnFile::raise(const std::vector<int32_t>& refs) {
  auto add = [&](int32_t r) {
    if (r >= 0) {
      if (nodes_[size_t(r)].refCount++ == 0) work_.push_back(r);
    } else if (tokenRefs_[size_t(-1 - r)]++ == 0) {
      --missing_;
    }
  };
  for (int32_t r : refs) add(r);
  while (!work_.empty()) {
    const Node& n = nodes_[size_t(work_.back())];
    work_.pop_back();
    const Form& f = n.form[size_t(n.cur)];
    for (int32_t k : f.keys)
      if (keyHolders_[size_t(k)]++ == 0) --missing_;
    for (int32_t r : f.refs) add(r);
  }
}

void TreeOnFile::lower(const std::vector<int32_t>& refs) {
  auto drop = [&](int32_t r) {
    if (r >= 0) {
      if (--nodes_[size_t(r)].refCount == 0) work_.push_back(r);
    } else if (--tokenRefs_[size_t(-1 - r)] == 0) {
      ++missing_;
    }
  };
  for (int32_t r : refs) drop(r);
  while (!work_.empty()) {
    const Node& n = nodes_[size_t(work_.back())];
    work_.pop_back();
    const Form& f = n.form[size_t(n.cur)];
    for (int32_t k : f.keys)
      if (--keyHolders_[size_t(k)] == 0) ++missing_;
    for (int32_t r : f.refs) drop(r);
  }
}

// Node n's file image becomes `form`.  A reached node's new references are
// counted before its old ones go, so that a child it keeps stays reached.
void TreeOnFile::setForm(int32_t n, int form) {
  Node& x = nodes_[size_t(n)];
  int old = x.cur;
  if (old == form) return;
  x.cur = form;
  if (x.refCount == 0) return;
  for (int32_t k : x.form[size_t(form)].keys)
    if (keyHolders_[size_t(k)]++ == 0) --missing_;
  raise(x.form[size_t(form)].refs);
  for (int32_t k : x.form[size_t(old)].keys)
    if (--keyHolders_[size_t(k)] == 0) ++missing_;
  lower(x.form[size_t(old)].refs);
}

// The root reference becomes `ref` (from `old`).
void TreeOnFile::setRootRef(int32_t ref, int32_t old) {
  if (ref == old) return;
  if (ref != kNone) raise({ref});
  if (old != kNone) lower({old});
}

bool TreeOnFile::safeToWrite(int32_t s) {
  int32_t n = nodeOf(s);
  if (!acyclic_) return coveredByWalk(n, rootRef_);
  if (n < 0 || nodes_[size_t(n)].cur == 1) return covered();
  setForm(n, 1);
  bool ok = covered();
  setForm(n, 0);
  return ok;
}

void TreeOnFile::written(int32_t s) {
  int32_t n = nodeOf(s);
  if (n < 0) return;
  if (acyclic_)
    setForm(n, 1);
  else
    nodes_[size_t(n)].cur = 1;
}

bool TreeOnFile::safeToRenameRoot() {
  if (!acyclic_) return coveredByWalk(-1, newRootRef_);
  setRootRef(newRootRef_, rootRef_);
  bool ok = covered();
  setRootRef(rootRef_, newRootRef_);
  return ok;
}

void TreeOnFile::rootRenamed() {
  root_ = newRoot_;
  if (acyclic_) setRootRef(newRootRef_, rootRef_);
  rootRef_ = newRootRef_;
}

}  // namespace jbbstorage
