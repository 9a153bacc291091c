// What one fuzz execution does with its input.  The libFuzzer targets and
// the regression test that replays saved inputs in every build share it, so
// a saved input runs exactly the code that found it.
//
// Both runs write the image to a file and open it through the normal open,
// then follow the viewer: the control-record check, the open, the counting
// walk, and the requests.  Any input is allowed; a crash, a hang, a leak or
// a sanitizer report is a finding.  Where the image is a well-formed
// database (the builder's checker finds no problem) the results are also
// checked against the checker's reading of it.
//
// The check costs about as much as the run itself; a long campaign asks for
// it on one input in checkOneIn, chosen by a hash of the input, so that a
// saved input is checked again whenever it is replayed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace jbbfuzz {

// Input of the view target: the whole input is the database file image.
// Runs the count, Find of up to 6 keys met in the walk and of keys the
// tree does not hold, then a request script with a Find and a List.
// Returns "" or what went wrong on a well-formed image.
std::string runView(const uint8_t* data, size_t size, const std::string& path, unsigned checkOneIn = 1);

// Input of the delete target: byte 0 gives n = byte % 9, bytes 1..n select
// the keys of n Del requests (below 0x80: the (b % keys)th key met in the
// walk; else such a key with a unit appended, usually not in the tree), and
// the rest is the image.  Each deletion runs as the Del request runs it;
// then the file is opened again and walked.  On a well-formed image every
// result must match the checker's reading, and the file must stay
// well-formed with exactly the deleted entries gone.
std::string runDelete(const uint8_t* data, size_t size, const std::string& path, unsigned checkOneIn = 1);

// The header runDelete expects in front of an image: n deletions selecting
// the given bytes (n at most 8).
std::string deleteHeader(const uint8_t* selectors, size_t n);

}  // namespace jbbfuzz
