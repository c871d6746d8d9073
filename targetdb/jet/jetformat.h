#pragma once
// Building blocks of the Jet 4 file format (Jet 4.0, Access 2000-2003):
// little-endian fields, the masked header region, text as stored in rows,
// date values and the index keys of the General sort order.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace s2q::jet {

using Bytes = std::vector<uint8_t>;

constexpr size_t kPageSize = 4096;

// ---- Page layout, shared by the reader, the writer and the verifier -------

// Page types.
constexpr uint8_t kPageData = 0x01;
constexpr uint8_t kPageTdef = 0x02;
constexpr uint8_t kPageNode = 0x03;
constexpr uint8_t kPageLeaf = 0x04;
constexpr uint8_t kPageMap = 0x05;

// Data pages: header, then the row offset table growing up while rows grow
// down from the end of the page; each offset carries these flags.
constexpr size_t kDataHeader = 14;
constexpr uint16_t kDeleted = 0x8000;
constexpr uint16_t kOverflow = 0x4000;
constexpr uint16_t kOffsetMask = 0x1FFF;

// Usage map pages: a bitmap after a 4-byte header.
constexpr size_t kPagesPerMapPage = (kPageSize - 4) * 8;

// Index pages: the entry mask, then the entries.
constexpr size_t kIndexMask = 27;
constexpr size_t kIndexEntries = 480;

// The catalog's parent of the containers, and the flags of system objects.
constexpr int32_t kDbParent = 0x0F000000;
constexpr uint32_t kSystemFlags = 0x80000002;

// ---- Fields ------------------------------------------------------------------

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) {
  return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put24(uint8_t* p, uint32_t v) {
  Put16(p, v);
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
inline void Put64(uint8_t* p, uint64_t v) {
  Put32(p, static_cast<uint32_t>(v));
  Put32(p + 4, static_cast<uint32_t>(v >> 32));
}
void Append16(Bytes& b, uint32_t v);
void Append32(Bytes& b, uint32_t v);

// ---- Header ------------------------------------------------------------------

// The header page masks bytes 0x18..0x97 with an RC4 key stream (key
// C7 DA 39 6B); applying the mask twice gives the original bytes back.
void ApplyHeaderMask(uint8_t* page);

// ---- Text ----------------------------------------------------------------------

// UTF-8 to UTF-16 and back. Invalid UTF-8 sequences become U+FFFD; unpaired
// surrogates read back as U+FFFD, so the result is always valid UTF-8.
std::u16string Utf16(std::string_view utf8);
std::string Utf8(std::u16string_view text);

// A text value as a row stores it: with "Unicode compression" on, a text whose
// characters all lie in U+0001..U+00FF is stored as FF FE and one byte each;
// every other text as UCS-2 little-endian.
Bytes EncodeText(std::u16string_view text, bool compress);
// Reads both forms (including the mixed form in which a 00 byte switches
// between one-byte and two-byte characters).
std::u16string DecodeText(const uint8_t* p, size_t n);

// ---- Dates ---------------------------------------------------------------------

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" to days since 1899-12-30 (the time of
// day as the fraction; before that day the fraction counts forward from the
// whole day, as Jet keeps it). nullopt for anything else.
std::optional<double> DateToDays(std::string_view text);
// Back to "YYYY-MM-DD", plus " HH:MM:SS" when there is a time of day.
std::string DaysToDate(double days);

// ---- Exact numbers and identifiers ------------------------------------------------

// A Currency value, a count of 1/10000 kept in 64 bits, as decimal text with
// its four decimals: "-12.3400".
std::string MoneyText(int64_t units);
// A decimal text ("-12.34", "+7", "0.0001"; at most four decimals, no
// exponent) as a count of 1/10000; nullopt for any other text and beyond the
// 64-bit range.
std::optional<int64_t> MoneyUnits(std::string_view text);
// A NUMERIC value as a row stores it, 17 bytes: a sign byte (nonzero for a
// negative number), then the unscaled magnitude in 128 bits as four 32-bit
// little-endian words, the most significant first. As decimal text with
// `scale` decimals ("-1.50" for 150 at scale 2); nullopt for another size or
// a scale beyond 28.
std::optional<std::string> NumericText(const uint8_t* p, size_t n, unsigned scale);
// A GUID as a row stores it, 16 bytes whose first three groups are
// little-endian, as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; nullopt for
// another size.
std::optional<std::string> GuidText(const uint8_t* p, size_t n);

// ---- Index keys ------------------------------------------------------------------

// Ascending index key of a 32-bit integer: flag 7F, then the value big-endian
// with its sign bit flipped. A null value is the single byte 00.
void AppendLongKey(Bytes& key, std::optional<int32_t> v);
// Ascending index key of a text in the General sort order (LCID 1033,
// version 0): flag 7F, then the character codes and their extra codes. Of a
// text longer than 255 UTF-16 units only the first 255 count; spaces at its
// end do not count.
void AppendTextKey(Bytes& key, const std::optional<std::u16string>& v);

}  // namespace s2q::jet
