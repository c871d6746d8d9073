// Text keys of the General sort order against those of an independent
// implementation (jet-keys/general-keys.tsv, shared beside the sources: a
// text, its ascending and its descending key in hexadecimal, without the
// entry's flag byte). The backend makes ascending keys only (it refuses to
// fill a descending index), so only those are compared.
#include <gtest/gtest.h>

#include <fstream>

#include "targetdb/jet/jetformat.h"
#include "tests/support.h"

namespace s2q {
namespace {

TEST(JetKeys, EveryTextKeysAsTheIndependentImplementationKeysIt) {
  const auto file = test::SharedPath("jet-keys/general-keys.tsv");
  S2Q_REQUIRE_SHARED(file);
  std::ifstream in(file);
  std::string line, mismatches;
  int lines = 0, wrong = 0;
  while (std::getline(in, line)) {
    ++lines;
    const size_t tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
    ASSERT_NE(tab2, std::string::npos) << "line " << lines << ": " << line;
    jet::Bytes key;
    jet::AppendTextKey(key, jet::Utf16(line.substr(0, tab)));
    std::string ours;
    for (size_t i = 1; i < key.size(); ++i) {
      ours += "0123456789ABCDEF"[key[i] >> 4];
      ours += "0123456789ABCDEF"[key[i] & 15];
    }
    if (key.front() != 0x7F || ours != line.substr(tab + 1, tab2 - tab - 1)) {
      ++wrong;
      mismatches += "\n  line " + std::to_string(lines) + " [" + line.substr(0, tab2) + "]: ours " + ours;
    }
  }
  ASSERT_GT(lines, 0) << file << " holds no texts";
  EXPECT_EQ(wrong, 0) << wrong << " of " << lines << " keys differ:" << mismatches;
}

}  // namespace
}  // namespace s2q
