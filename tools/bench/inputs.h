// What the benchmark feeds the viewer and what it compares against: the
// request lines of an interactive session with random Finds, and the size
// of the index array the viewer holds for a database.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jbbbench {

// `count` keys drawn at random (uniformly, with repeats, by pickSeed) from
// the database that `jbbbuild --generate n --seed seed` makes, as UTF-8.
std::vector<std::string> randomKeys(size_t n, uint64_t seed, size_t count, uint64_t pickSeed);

// The request lines of a session: one "find KEY" per key, then "quit".
std::string findSession(const std::vector<std::string>& keys);

// The index array of the database at `path`: capacity (entries) from its
// control record, and that capacity in bytes as the viewer allocates it.
bool indexArraySize(const std::string& path, uint32_t* entries, uint64_t* bytes, std::string* error);

}  // namespace jbbbench
