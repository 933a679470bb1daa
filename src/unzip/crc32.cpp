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

namespace {

// Slicing by eight: table k advances the register over a byte followed by k zero bytes, so one
// round folds eight bytes with eight independent look-ups instead of a chain of eight.
struct CrcSlices {
  uint32_t table[8][256];
};

constexpr CrcSlices MakeCrcSlices() {
  CrcSlices slices{};
  for (uint32_t n = 0; n < 256; ++n) slices.table[0][n] = Crc32Of(n);
  for (int k = 1; k < 8; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t previous = slices.table[k - 1][n];
      slices.table[k][n] = (previous >> 8) ^ slices.table[0][previous & 0xFF];
    }
  }
  return slices;
}

constexpr CrcSlices kCrcSlices = MakeCrcSlices();

uint32_t LoadLittle32(const uint8_t* bytes) {
  return bytes[0] | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, uint32_t count) {
  const auto& t = kCrcSlices.table;
  for (; count >= 8; count -= 8, bytes += 8) {
    uint32_t low = crc ^ LoadLittle32(bytes);
    uint32_t high = LoadLittle32(bytes + 4);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^
          t[0][high >> 24];
  }
  return Crc32UpdateBytewise(crc, bytes, count);
}

uint32_t Crc32UpdateBytewise(uint32_t crc, const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) crc = Crc32Step(crc, bytes[i]);
  return crc;
}
