#pragma once
// The Jet 4 storage backend: SR-DATA.MDB as a Jet 4.0 (Access 2000-2003)
// database that the map application reads through Jet.
#include "targetdb/storage.h"

namespace s2q {

// Format StorageFormat::Jet4, name "jet".
const StorageBackend& JetBackend();

}  // namespace s2q
