#include "bench/inputs.h"

#include <fstream>

#include "btree/format.h"
#include "btree/jbbtreev.h"
#include "builder/keys.h"

namespace jbbbench {

std::vector<std::string> randomKeys(size_t n, uint64_t seed, size_t count, uint64_t pickSeed) {
  std::vector<std::string> out;
  if (n == 0) return out;
  // The same generator and seed as the builder's --generate; duplicates it
  // drops are equal keys, so any pick is a key of the database.
  std::vector<jbbbuilder::Key> keys = jbbbuilder::syntheticPaths(n, seed, u"/home", false);
  jbbbuilder::Rng rng(pickSeed);
  for (size_t i = 0; i < count; ++i) out.push_back(jbbbuilder::keyToUtf8(keys[rng.below(n)]));
  return out;
}

std::string findSession(const std::vector<std::string>& keys) {
  std::string text;
  for (const std::string& k : keys) text += "find " + k + "\n";
  return text + "quit\n";
}

bool indexArraySize(const std::string& path, uint32_t* entries, uint64_t* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  uint8_t raw[jbbformat::kCtrlRecSize];
  if (!in.read(reinterpret_cast<char*>(raw), sizeof raw)) {
    *error = path + ": cannot read the control record";
    return false;
  }
  CtrlRec cr;
  decodeCtrlRec(raw, &cr);
  if (cr.magic != jbbformat::kMagic) {
    *error = path + ": not a journal database";
    return false;
  }
  *entries = cr.indexArraySize;
  *bytes = uint64_t(cr.indexArraySize) * sizeof(indexNode);
  return true;
}

}  // namespace jbbbench
