// The Jet 4 reader and writer on arbitrary bytes as a database file
// (see dbfile.h for the properties). Seeds: small Jet files the backend made.
// Also: writing into a file the verifier finds consistent leaves a file it
// finds consistent (a damaged file may stay damaged).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "targetdb/jet/jetverify.h"
#include "tests/fuzz/dbfile.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

// Whether the verifier finds the bytes consistent; unreadable ones are not.
bool Consistent(const s2q::jet::Bytes& image, bool tell) {
  try {
    const std::vector<std::string> problems = s2q::jet::VerifyImage(image);
    if (tell) {
      for (const auto& p : problems) std::fprintf(stderr, "verify: %s\n", p.c_str());
    }
    return problems.empty();
  } catch (const s2q::jet::FormatError& e) {
    if (tell) std::fprintf(stderr, "verify: unreadable (%s)\n", e.detail.c_str());
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const s2q::jet::Bytes input(data, data + size);
  const bool clean = Consistent(input, false);
  s2q::fuzz::RunDatabaseFile(data, size, "SR-DATA.MDB");
  std::ifstream in(s2q::fuzz::DatabaseFileOf("SR-DATA.MDB"), std::ios::binary);
  const s2q::jet::Bytes output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (clean && output != input) S2Q_REQUIRE(Consistent(output, true));
  return 0;
}
