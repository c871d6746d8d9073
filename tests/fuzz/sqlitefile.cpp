// The SQLite backend's open on arbitrary bytes as a database file (see
// dbfile.h for the properties). Seeds: small SQLite files the backend made.
#include "tests/fuzz/dbfile.h"
#include "tests/fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  s2q::fuzz::RunDatabaseFile(data, size, "SR-DATA.MDB");
  return 0;
}
