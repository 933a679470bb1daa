#include "unzip/utf8.h"

uint32_t DecodeUtf8Character(const char*& text) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  uint32_t lead = bytes[0];
  if (lead < 0x80) {
    ++text;
    return lead;
  }
  // The lead byte says how many continuation bytes follow; 0xF5 and above lead nowhere valid.
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  if (extra == 0 || lead > 0xF4) return kNotUtf8;
  uint32_t code = lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return kNotUtf8;  // a NUL ends the text here as well
    code = code << 6 | (bytes[i] & 0x3F);
  }
  static const uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return kNotUtf8;
  text += extra + 1;
  return code;
}
