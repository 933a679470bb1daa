#include "unzip/cp1252.h"

#include "unzip/utf8.h"

namespace {

// Bytes 0x80 to 0x9F, where code page 1252 departs from Latin-1. Windows converts the five
// bytes that have no character there to and from the control characters of the same value.
// Below and above that stretch a byte is the code point of the same value.
constexpr uint16_t kHighControlStretch[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

bool Cp1252Spells(uint32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return true;
  for (uint16_t spelled : kHighControlStretch)
    if (spelled == code) return true;
  return false;
}

bool Cp1252SpellsName(const char* utf8) {
  while (*utf8) {
    uint32_t code = DecodeUtf8Character(utf8);
    if (code == kNotUtf8 || !Cp1252Spells(code)) return false;
  }
  return true;
}

uint32_t Cp1252UpperCase(uint32_t code) {
  if ((code >= 'a' && code <= 'z') || (code >= 0xE0 && code <= 0xFE && code != 0xF7))
    return code - 0x20;
  switch (code) {
    case 0x0161:  // š
    case 0x0153:  // œ
    case 0x017E:  // ž
      return code - 1;
    case 0x00FF:  // ÿ
      return 0x0178;
    default:
      return code;
  }
}
