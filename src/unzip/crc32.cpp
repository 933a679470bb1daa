#include "unzip/crc32.h"

namespace {

// The remainder of byte n divided by the reflected polynomial; the compiler works these out,
// so the table is constant data in the program.
constexpr uint32_t Crc32Of(uint32_t n) {
  for (int bit = 0; bit < 8; ++bit) n = (n & 1) ? 0xEDB88320u ^ (n >> 1) : n >> 1;
  return n;
}

}  // namespace

// clang-format off
#define KS_CRC_QUAD(n) Crc32Of(n), Crc32Of((n) + 1), Crc32Of((n) + 2), Crc32Of((n) + 3)
#define KS_CRC_ROW(n) KS_CRC_QUAD(n), KS_CRC_QUAD((n) + 4), KS_CRC_QUAD((n) + 8), KS_CRC_QUAD((n) + 12)
constexpr uint32_t kCrc32Table[256] = {
    KS_CRC_ROW(0),   KS_CRC_ROW(16),  KS_CRC_ROW(32),  KS_CRC_ROW(48),
    KS_CRC_ROW(64),  KS_CRC_ROW(80),  KS_CRC_ROW(96),  KS_CRC_ROW(112),
    KS_CRC_ROW(128), KS_CRC_ROW(144), KS_CRC_ROW(160), KS_CRC_ROW(176),
    KS_CRC_ROW(192), KS_CRC_ROW(208), KS_CRC_ROW(224), KS_CRC_ROW(240),
};
#undef KS_CRC_ROW
#undef KS_CRC_QUAD
// clang-format on

uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) crc = Crc32Step(crc, bytes[i]);
  return crc;
}
