#include "targetdb/jet/jetformat.h"

#include "env/codepage.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace s2q::jet {

void Append16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

void Append32(Bytes& b, uint32_t v) {
  Append16(b, v);
  Append16(b, v >> 16);
}

// ---- Header ------------------------------------------------------------------

namespace {

constexpr size_t kMaskedStart = 0x18;
constexpr size_t kMaskedLength = 128;

std::array<uint8_t, kMaskedLength> HeaderKeyStream() {
  const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  std::array<uint8_t, 256> s{};
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % 4]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  std::array<uint8_t, kMaskedLength> out{};
  for (size_t n = 0, i = 0, j = 0; n < kMaskedLength; ++n) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    out[n] = s[(s[i] + s[j]) & 0xFF];
  }
  return out;
}

}  // namespace

void ApplyHeaderMask(uint8_t* page) {
  static const std::array<uint8_t, kMaskedLength> stream = HeaderKeyStream();
  for (size_t i = 0; i < kMaskedLength; ++i) page[kMaskedStart + i] ^= stream[i];
}

// ---- Text ----------------------------------------------------------------------

std::u16string Utf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<uint8_t>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if (c >= 0xC2 && c < 0xF5) {
      len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      uint32_t v = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
      bool ok = i + len <= s.size();
      for (size_t k = 1; ok && k < len; ++k) {
        const auto cc = static_cast<uint8_t>(s[i + k]);
        if ((cc & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (cc & 0x3F);
      }
      const uint32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
      if (ok && v >= min && v <= 0x10FFFF && !(v >= 0xD800 && v < 0xE000)) {
        cp = v;
      } else {
        len = 1;
      }
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf8(std::u16string_view t) {
  std::string out;
  out.reserve(t.size() * 3);
  for (size_t i = 0; i < t.size(); ++i) {
    uint32_t cp = t[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (t[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

Bytes EncodeText(std::u16string_view text, bool compress) {
  Bytes out;
  bool oneByte = compress && !text.empty();
  for (char16_t c : text) {
    if (c == 0 || c > 0xFF) oneByte = false;
  }
  if (oneByte) {
    out.reserve(text.size() + 2);
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (char16_t c : text) out.push_back(static_cast<uint8_t>(c));
    return out;
  }
  out.reserve(text.size() * 2);
  for (char16_t c : text) Append16(out, c);
  return out;
}

std::u16string DecodeText(const uint8_t* p, size_t n) {
  std::u16string out;
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool oneByte = true;
    size_t i = 2;
    while (i < n) {
      if (p[i] == 0) {
        oneByte = !oneByte;
        ++i;
      } else if (oneByte) {
        out += static_cast<char16_t>(p[i++]);
      } else if (i + 1 < n) {
        out += static_cast<char16_t>(Get16(p + i));
        i += 2;
      } else {
        break;
      }
    }
    return out;
  }
  out.reserve(n / 2);
  for (size_t i = 0; i + 1 < n; i += 2) out += static_cast<char16_t>(Get16(p + i));
  return out;
}

// ---- Dates ---------------------------------------------------------------------

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

const int64_t kEpoch = DaysFromCivil(1899, 12, 30);

bool Digits(std::string_view s, size_t pos, size_t n, int& out) {
  if (pos + n > s.size()) return false;
  out = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

}  // namespace

std::optional<double> DateToDays(std::string_view s) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  if (s.size() != 10 && s.size() != 19) return std::nullopt;
  if (!Digits(s, 0, 4, y) || s[4] != '-' || !Digits(s, 5, 2, mo) || s[7] != '-' ||
      !Digits(s, 8, 2, d)) {
    return std::nullopt;
  }
  if (s.size() == 19 && (s[10] != ' ' || !Digits(s, 11, 2, h) || s[13] != ':' ||
                         !Digits(s, 14, 2, mi) || s[16] != ':' || !Digits(s, 17, 2, se))) {
    return std::nullopt;
  }
  static const int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > kMonthDays[mo - 1] || (mo == 2 && d == 29 && !leap) ||
      h > 23 || mi > 59 || se > 59) {
    return std::nullopt;
  }
  const auto days = static_cast<double>(DaysFromCivil(y, mo, d) - kEpoch);
  const double frac = (h * 3600.0 + mi * 60.0 + se) / 86400.0;
  return days < 0 ? days - frac : days + frac;
}

std::string DaysToDate(double v) {
  if (!std::isfinite(v) || std::fabs(v) > 3e6) return {};
  double whole = std::trunc(v);
  auto secs = static_cast<int64_t>(std::llround(std::fabs(v - whole) * 86400.0));
  auto day = static_cast<int64_t>(whole);
  if (secs >= 86400) {
    secs = 0;
    day += 1;
  }
  int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(day + kEpoch, y, m, d);
  char buf[40];
  if (secs == 0) {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
  } else {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(y),
                  m, d, static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                  static_cast<long long>(secs % 60));
  }
  return buf;
}

// ---- Exact numbers and identifiers ------------------------------------------------

namespace {

// A magnitude with `scale` of its digits after the decimal point.
std::string ScaledText(bool negative, unsigned __int128 magnitude, unsigned scale) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
  const bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return negative && !zero ? "-" + digits : digits;
}

}  // namespace

std::string MoneyText(int64_t units) {
  const bool negative = units < 0;
  // The magnitude of the most negative value does not fit in 64 signed bits.
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  return ScaledText(negative, magnitude, 4);
}

std::optional<int64_t> MoneyUnits(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  const size_t point = s.find('.');
  const std::string_view whole = s.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view() : s.substr(point + 1);
  if ((whole.empty() && fraction.empty()) || fraction.size() > 4) return std::nullopt;
  unsigned __int128 units = 0;
  for (std::string_view part : {whole, fraction}) {
    for (char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      units = units * 10 + static_cast<unsigned>(c - '0');
      if (units > (static_cast<unsigned __int128>(1) << 64)) return std::nullopt;
    }
  }
  for (size_t i = fraction.size(); i < 4; ++i) units *= 10;
  const unsigned __int128 limit = (static_cast<unsigned __int128>(1) << 63) - (negative ? 0 : 1);
  if (units > limit) return std::nullopt;
  return negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(units)) : static_cast<int64_t>(units);
}

std::optional<std::string> NumericText(const uint8_t* p, size_t n, unsigned scale) {
  if (n != 17 || scale > 28) return std::nullopt;
  unsigned __int128 magnitude = 0;
  for (size_t word = 0; word < 4; ++word) magnitude = (magnitude << 32) | Get32(p + 1 + word * 4);
  return ScaledText(p[0] != 0, magnitude, scale);
}

std::optional<std::string> GuidText(const uint8_t* p, size_t n) {
  if (n != 16) return std::nullopt;
  // The stored order of the bytes: the first group reversed, the next two
  // each reversed, the last eight as they are.
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kDigits[p[kOrder[i]] >> 4];
    out += kDigits[p[kOrder[i]] & 0x0F];
  }
  return out + "}";
}

// ---- Index keys ------------------------------------------------------------------

void AppendLongKey(Bytes& key, std::optional<int32_t> v) {
  if (!v) {
    key.push_back(0x00);
    return;
  }
  const auto u = static_cast<uint32_t>(*v);
  key.push_back(0x7F);
  key.push_back(static_cast<uint8_t>((u >> 24) ^ 0x80));
  key.push_back(static_cast<uint8_t>(u >> 16));
  key.push_back(static_cast<uint8_t>(u >> 8));
  key.push_back(static_cast<uint8_t>(u));
}

namespace {

// How one character enters a General sort order key. The code files name the
// kinds by a letter: S plain codes; I codes plus an extra (accent) code; U an
// unprintable character, kept only in the trailing part; P an extra-code
// modifier added to the previous character's extra code; Z codes with an
// optional extra code and a two-bit flag (kana and the like); X ignored.
struct CharCodes {
  char kind = 'X';
  Bytes inlineCodes;
  Bytes extra;
  Bytes unprintable;
  uint8_t modifier = 0;
  uint8_t flag = 0;  // Z: 2 or 3
};

Bytes HexCodes(std::string_view hex) {
  std::string h(hex);
  if (h.size() % 2) h.insert(h.begin(), '0');
  Bytes out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  }
  return out;
}

CharCodes ParseCodeLine(std::string_view line) {
  CharCodes c;
  if (line.empty()) return c;
  c.kind = line[0];
  std::vector<std::string_view> parts;
  std::string_view rest = line.substr(1);
  for (;;) {
    const size_t comma = rest.find(',');
    parts.push_back(rest.substr(0, comma));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  switch (c.kind) {
    case 'S':
      c.inlineCodes = HexCodes(parts[0]);
      break;
    case 'I':
      c.inlineCodes = HexCodes(parts[0]);
      if (parts.size() > 1) c.extra = HexCodes(parts[1]);
      break;
    case 'U':
      c.unprintable = HexCodes(parts[0]);
      break;
    case 'P': {
      const Bytes b = HexCodes(parts[0]);
      c.modifier = b.empty() ? 0 : b[0];
      break;
    }
    case 'Z':
      c.inlineCodes = HexCodes(parts[0]);
      if (parts.size() > 1) c.extra = HexCodes(parts[1]);
      c.flag = (parts.size() > 2 && parts[2] == "1") ? 2 : 3;
      break;
    default:
      c.kind = 'X';
  }
  return c;
}

// The code files leave out the surrogates; each half of a pair is keyed on
// its own, as a character with two-byte codes and the extra code 3F. A high
// surrogate's codes run from B002 (U+D800) one by one. A low surrogate's run
// from B4F8 (U+DC00) over codes whose second byte is never 00 or 01, as the
// codes of the ideographs do.
CharCodes SurrogateCodes(char16_t c) {
  uint32_t code = 0;
  if (c < 0xDC00) {
    code = 0xB002 + (c - 0xD800u);
  } else {
    const uint32_t start = 0xB4 * 254 + (0xF8 - 2);  // B4F8 counted in steps of 254
    const uint32_t n = start + (c - 0xDC00u);
    code = ((n / 254) << 8) | (n % 254 + 2);
  }
  CharCodes codes;
  codes.kind = 'I';
  codes.inlineCodes = {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
  codes.extra = {0x3F};
  return codes;
}

const std::vector<CharCodes>& CodeTable() {
  static const std::vector<CharCodes> table = [] {
    static const char kLow[] =
#include "targetdb/jet/genleg_codes.inc"
        ;
    static const char kHigh[] =
#include "targetdb/jet/genleg_ext_codes.inc"
        ;
    std::vector<CharCodes> t(0x10000);
    auto load = [&t](std::string_view text, uint32_t first, uint32_t last) {
      if (!text.empty() && text.front() == '\n') text.remove_prefix(1);
      for (uint32_t c = first; c <= last; ++c) {
        if (c >= 0xD800 && c < 0xE000) continue;  // surrogates have no line
        const size_t nl = text.find('\n');
        t[c] = ParseCodeLine(text.substr(0, nl));
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
      }
    };
    load(kLow, 0x0000, 0x00FF);
    load(kHigh, 0x0100, 0xFFFF);
    for (uint32_t c = 0xD800; c < 0xE000; ++c) t[c] = SurrogateCodes(static_cast<char16_t>(c));
    return t;
  }();
  return table;
}

}  // namespace

void AppendTextKey(Bytes& key, const std::optional<std::u16string>& v) {
  if (!v) {
    key.push_back(0x00);
    return;
  }
  key.push_back(0x7F);
  const std::vector<CharCodes>& table = CodeTable();
  // Keys cover at most the 255 characters of a text field, and leave out
  // the spaces that end them ("a " keys as "a", " " as "").
  std::u16string_view s = std::u16string_view(*v).substr(0, 255);
  while (!s.empty() && s.back() == u' ') s.remove_suffix(1);

  Bytes extra;               // extra codes, one slot per character with codes
  bool extraUsed = false;    // whether any extra code has been recorded
  size_t extraChars = 0;     // character slots the extra codes cover
  size_t extraPrefix = 0;    // a modifier written before any extra code
  Bytes unprintable;
  Bytes flags;
  size_t position = 0;       // characters with codes so far
  for (char16_t ch : s) {
    const CharCodes& c = table[ch];
    const size_t here = position;
    if (!c.inlineCodes.empty()) {
      key.insert(key.end(), c.inlineCodes.begin(), c.inlineCodes.end());
      ++position;
    }
    if (c.kind == 'S' || c.kind == 'X') continue;
    if (!c.extra.empty() || c.modifier != 0) {
      extraUsed = true;
      if (extraChars < here) {
        extra.insert(extra.end(), here - extraChars, 0x02);  // placeholder per plain char
        extraChars = here;
      }
      if (!c.extra.empty()) {
        extra.insert(extra.end(), c.extra.begin(), c.extra.end());
        ++extraChars;
      } else if (!extra.empty()) {
        extra.back() = static_cast<uint8_t>(extra.back() + c.modifier);
      } else {
        extra.push_back(c.modifier);
        extraPrefix = 1;
      }
    }
    if (!c.unprintable.empty()) {
      size_t at = here;
      if (extraUsed) at = extra.size() + (here - extraChars) - extraPrefix;
      const uint32_t code = (7 + 4 * static_cast<uint32_t>(at)) | 0x8000;
      unprintable.push_back(static_cast<uint8_t>(code >> 8));
      unprintable.push_back(static_cast<uint8_t>(code));
      unprintable.push_back(0x06);
      unprintable.insert(unprintable.end(), c.unprintable.begin(), c.unprintable.end());
    }
    if (c.flag != 0) flags.push_back(c.flag);
  }
  key.push_back(0x01);  // end of the character codes

  while (!extra.empty() && extra.back() <= 0x02) extra.pop_back();
  const bool hasFlags = !flags.empty();
  if (!extra.empty() || !unprintable.empty() || hasFlags) {
    key.insert(key.end(), extra.begin(), extra.end());
    if (hasFlags || !unprintable.empty()) {
      key.push_back(0x01);
      key.push_back(0x01);
      if (hasFlags) {
        // Flags of value 3 at the end say nothing; the rest go three to a
        // byte, two bits each, under a leading 1 bit.
        while (!flags.empty() && flags.back() == 3) flags.pop_back();
        uint8_t cur = 0x80;
        int n = 0;
        for (uint8_t f : flags) {
          cur = static_cast<uint8_t>(cur | (f << ((2 - n) * 2)));
          if (++n == 3) {
            key.push_back(cur);
            cur = 0x80;
            n = 0;
          }
        }
        if (n > 0) key.push_back(cur);
        for (uint8_t b : {0xFF, 0x02, 0x80, 0xFF, 0x80}) key.push_back(b);
        if (!unprintable.empty()) key.push_back(0xFF);
      }
      if (!unprintable.empty()) {
        key.push_back(0x01);
        key.insert(key.end(), unprintable.begin(), unprintable.end());
      }
    }
  }
  key.push_back(0x00);  // end of the text
}

}  // namespace s2q::jet
