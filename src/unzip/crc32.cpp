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

// The register is linear in what it has taken in, so a long run can be split into lanes of
// 8-byte words, word j going to lane j mod kLanes. Each lane carries its words forward past the
// other lanes' words as if those were zeros, and the lanes are folded together over the last
// round. The lanes do not wait for one another, so the processor runs their look-ups side by
// side, where one register would have to wait for each word's look-ups before the next.
constexpr unsigned kLanes = 4;

// zeroBytes[m - 1][n]: the register n after m zero bytes. Table k of a fold takes byte k of a
// word: `word` advances it to the word's end, `lane` on over the other lanes' kLanes - 1 words.
// Made at the first use instead of by the compiler, so that they cost SETUP.EXE no file size.
struct CrcFolds {
  bool ready;
  uint32_t word[8][256];
  uint32_t lane[8][256];
};

CrcFolds folds;

void MakeFolds() {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t crc = n;
    for (unsigned steps = 1; steps <= 8 * kLanes; ++steps) {
      crc = Crc32Step(crc, 0);
      if (steps <= 8) folds.word[8 - steps][n] = crc;
      if (steps > 8 * kLanes - 8) folds.lane[8 * kLanes - steps][n] = crc;
    }
  }
  folds.ready = true;
}

uint64_t LoadWord(const uint8_t* bytes) {
  uint64_t word = 0;
  for (int i = 7; i >= 0; --i) word = word << 8 | bytes[i];
  return word;
}

// The register that `word` (already XOR-ed with the register in force) leaves behind, carried
// as far as the table set reaches.
uint32_t Fold(const uint32_t (*table)[256], uint64_t word) {
  return table[0][word & 0xFF] ^ table[1][(word >> 8) & 0xFF] ^ table[2][(word >> 16) & 0xFF] ^
         table[3][(word >> 24) & 0xFF] ^ table[4][(word >> 32) & 0xFF] ^
         table[5][(word >> 40) & 0xFF] ^ table[6][(word >> 48) & 0xFF] ^ table[7][word >> 56];
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, uint32_t count) {
  if (!folds.ready) MakeFolds();
  constexpr uint32_t kRoundBytes = 8 * kLanes;
  if (count >= kRoundBytes) {
    uint32_t lanes[kLanes] = {crc};
    for (; count >= 2 * kRoundBytes; count -= kRoundBytes, bytes += kRoundBytes) {
      for (unsigned j = 0; j < kLanes; ++j)
        lanes[j] = Fold(folds.lane, LoadWord(bytes + 8 * j) ^ lanes[j]);
    }
    // The last round one word after the other: lane j's share is due at word j.
    crc = 0;
    for (unsigned j = 0; j < kLanes; ++j)
      crc = Fold(folds.word, LoadWord(bytes + 8 * j) ^ lanes[j] ^ crc);
    count -= kRoundBytes;
    bytes += kRoundBytes;
  }
  for (; count >= 8; count -= 8, bytes += 8) crc = Fold(folds.word, LoadWord(bytes) ^ crc);
  return Crc32UpdateBytewise(crc, bytes, count);
}

uint32_t Crc32UpdateBytewise(uint32_t crc, const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) crc = Crc32Step(crc, bytes[i]);
  return crc;
}
