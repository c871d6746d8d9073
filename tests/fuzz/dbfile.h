#pragma once
// The body of the database file targets: arbitrary bytes as a database file,
// opened through the engine layer, read, written and opened again.
// Properties: only DbError escapes; a file that does not open is left as it
// was; a table's rows have one value per field; a refused INSERT changes
// nothing, neither in the open database nor in the file; an applied one adds
// one row, and the file written on closing opens again with the same rows.
#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace s2q::fuzz {

// `fileName` is the name the bytes are written under (the engine recognises
// the format by the first bytes, never by the name).
void RunDatabaseFile(const uint8_t* data, size_t size, const char* fileName);

// Where RunDatabaseFile writes the bytes; the database it wrote stays there
// until the next run.
std::filesystem::path DatabaseFileOf(const char* fileName);

}  // namespace s2q::fuzz
