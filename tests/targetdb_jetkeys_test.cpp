// Index keys of texts in the General sort order against keys computed by an
// independent implementation (the data set jet-keys/general-keys.tsv shared
// beside the sources: a text, its ascending key and its descending key in
// hexadecimal, without the entry's flag byte). The backend writes ascending
// keys only (every index it makes or fills is ascending, and it refuses to
// fill a descending one), so only the ascending keys are compared.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "targetdb/jet/jetformat.h"
#include "tests/support.h"

namespace s2q {
namespace {

std::string Hex(const jet::Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

// The text part of our key: without the flag byte 7F that AppendTextKey puts
// before a value.
std::string OurKey(const std::string& text) {
  jet::Bytes key;
  jet::AppendTextKey(key, jet::Utf16(text));
  if (key.empty() || key.front() != 0x7F) return "no value flag: " + Hex(key);
  return Hex(jet::Bytes(key.begin() + 1, key.end()));
}

TEST(JetKeys, EveryTextKeysAsTheIndependentImplementationKeysIt) {
  const auto file = test::SharedPath("jet-keys/general-keys.tsv");
  S2Q_REQUIRE_SHARED(file);
  std::ifstream in(file);
  ASSERT_TRUE(in) << file;
  std::string line, mismatches;
  int lines = 0, wrong = 0;
  while (std::getline(in, line)) {
    ++lines;
    std::vector<std::string> fields;
    std::stringstream parts(line);
    for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 3u) << "line " << lines << ": " << line;
    const std::string ours = OurKey(fields[0]);
    if (ours != fields[1]) {
      ++wrong;
      mismatches += "\n  line " + std::to_string(lines) + " [" + fields[0] + "]: expected " + fields[1] +
                    ", ours " + ours;
    }
  }
  ASSERT_GT(lines, 0) << file << " holds no texts";
  EXPECT_EQ(wrong, 0) << wrong << " of " << lines << " keys differ:" << mismatches;
}

}  // namespace
}  // namespace s2q
