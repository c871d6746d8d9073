// Code page 932 decoding and encoding on arbitrary bytes.
// Properties: bytes that decode encode back to themselves, except characters
// that code page 932 holds twice (the NEC and IBM extension rows), which
// encode to the one form Windows writes and decode again to the same text;
// text that encodes decodes back to itself; bad input raises Error only.
#include <string>
#include <string_view>

#include "env/codepage.h"
#include "env/errors.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Whether the bytes hold a double-byte character of the rows where code page
// 932 has two codes for one character: row 13 (0x87), the NEC-selected IBM
// extension (0xED, 0xEE) and the IBM extension (0xFA to 0xFC).
bool HasDuplicateRows(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (!IsLeadByte(b)) continue;
    if (b == 0x87 || b == 0xED || b == 0xEE || b >= 0xFA) return true;
    ++i;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace s2q;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::string text;
  bool decoded = false;
  try {
    text = DecodeCp932(bytes, "fuzz.TXT", 7);
    decoded = true;
  } catch (const Error& e) {
    // The message names the file and an offset inside the input.
    S2Q_REQUIRE(std::string_view(e.what()).find("fuzz.TXT") != std::string_view::npos);
  }
  if (decoded) {
    S2Q_REQUIRE(CharCount(text) <= size);
    const std::string again = EncodeCp932(text, "fuzz.TXT");
    if (!HasDuplicateRows(bytes)) S2Q_REQUIRE(again == bytes);
    S2Q_REQUIRE(DecodeCp932(again, "fuzz.TXT") == text);
  }

  // The same bytes as UTF-8 text to be written.
  std::string encoded;
  bool encodedOk = false;
  try {
    encoded = EncodeCp932(bytes, "fuzz.TXT");
    encodedOk = true;
  } catch (const Error&) {
  }
  if (encodedOk) S2Q_REQUIRE(DecodeCp932(encoded, "fuzz.TXT") == bytes);
  return 0;
}
