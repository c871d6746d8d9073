#pragma once
// Checks a Jet 4 file image for the inconsistencies a strict reader (and the
// Jet engine) would trip over, as SQLite's integrity check does for its files.
#include <string>
#include <vector>

#include "targetdb/jet/jetdb.h"  // FormatError

namespace s2q::jet {

// Every inconsistency found in the image, each one line of Japanese naming
// the page and the object (table, index, column) it concerns; empty when the
// file is consistent. Throws FormatError when the image cannot be read as a
// Jet 4 database at all.
std::vector<std::string> VerifyImage(const Bytes& image);

}  // namespace s2q::jet
