#pragma once
// The Jet 4 storage backend: SR-DATA.MDB as a Jet 4.0 (Access 2000-2003)
// database that the map application reads through Jet.
#include <string>
#include <string_view>
#include <vector>

#include "targetdb/storage.h"

namespace s2q {

// Format StorageFormat::Jet4, name "jet".
const StorageBackend& JetBackend();

// Checks the bytes of a Jet file (named `path` in messages) for
// inconsistencies: one line per problem, none when the file is consistent.
// Throws DbError (NotADatabase) when they cannot be read as Jet 4.
std::vector<std::string> VerifyJetFile(const std::string& path, std::string_view bytes);

}  // namespace s2q
