#include "unzip/crc32.h"

// ksdist on x86-64 processors with a carry-less multiply (every one since about 2010) runs the
// CRC with it, chosen at run time; SETUP.EXE and every other build run the portable tables.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define KS_CRC_CARRYLESS 1
#include <immintrin.h>
#else
#define KS_CRC_CARRYLESS 0
#endif

// The compiler works the table out, so it is constant data in the program.
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

uint32_t Crc32UpdateLanes(uint32_t crc, const uint8_t* bytes, uint32_t count) {
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

#if KS_CRC_CARRYLESS

namespace {

// The register as a polynomial: bit i is the coefficient of x^(31 - i), so that one step of
// Crc32Step over a zero byte multiplies by x^8. XPower(n) is x^n modulo the polynomial.
uint32_t XPower(unsigned n) {
  uint32_t r = 0x80000000u;
  while (n-- > 0) r = (r & 1) ? 0xEDB88320u ^ (r >> 1) : r >> 1;
  return r;
}

// 16 bytes of data in an SSE register, read the same way: bit i of the 128 is the coefficient
// of x^(127 - i), and a 64-bit half h with bit i the coefficient of x^(63 - i) holds a
// polynomial of degree below 64. The carry-less product of two such halves is then the product
// of their polynomials times x, in the same order across the 128 bits. So a register A followed
// by `distance` more bits, A = H x^64 + L, goes forward to H x^(distance + 64) + L x^distance,
// which keeps its remainder and fits in 128 bits again: H and L each multiplied by the 32-bit
// remainders of x^(distance + 63) and x^(distance - 1), which sit in the top of their halves.
struct FoldFactors {
  __m128i by128;   // one register over the next 16 bytes
  __m128i by512;   // one of four registers over the other three
  __m128i by2048;  // one of four 512-bit registers over the other three
};

__m128i Factors(unsigned distance) {
  return _mm_set_epi64x(static_cast<long long>(uint64_t(XPower(distance - 1)) << 32),
                        static_cast<long long>(uint64_t(XPower(distance + 63)) << 32));
}

FoldFactors foldFactors;
bool carrylessChecked;

__attribute__((target("pclmul"))) __m128i Forward(__m128i a, __m128i factors) {
  return _mm_xor_si128(_mm_clmulepi64_si128(a, factors, 0x00),
                       _mm_clmulepi64_si128(a, factors, 0x11));
}

__m128i Load(const uint8_t* bytes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// Four registers side by side over 64 bytes at a time, folded into one at the end; the
// register's own value enters as the first four bytes' partner. What the last register holds
// is the data's remainder without the CRC's final multiplication by x^32: the table steps over
// its 16 bytes, from a zero register, do that. Needs at least 64 bytes.
__attribute__((target("pclmul"))) uint32_t Crc32UpdateCarryless(uint32_t crc, const uint8_t* bytes,
                                                                uint32_t count) {
  __m128i lanes[4];
  for (unsigned j = 0; j < 4; ++j) lanes[j] = Load(bytes + 16 * j);
  lanes[0] = _mm_xor_si128(lanes[0], _mm_cvtsi32_si128(static_cast<int>(crc)));
  for (bytes += 64, count -= 64; count >= 64; bytes += 64, count -= 64) {
    for (unsigned j = 0; j < 4; ++j)
      lanes[j] = _mm_xor_si128(Forward(lanes[j], foldFactors.by512), Load(bytes + 16 * j));
  }
  __m128i a = lanes[0];
  for (unsigned j = 1; j < 4; ++j) a = _mm_xor_si128(Forward(a, foldFactors.by128), lanes[j]);
  for (; count >= 16; bytes += 16, count -= 16)
    a = _mm_xor_si128(Forward(a, foldFactors.by128), Load(bytes));
  uint8_t rest[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), a);
  return Crc32UpdateBytewise(Crc32UpdateBytewise(0, rest, 16), bytes, count);
}

// The same four registers 512 bits wide, where the processor multiplies four 128-bit parts at
// once: 256 bytes at a time, folded down to the 128-bit register at the end, which goes on over
// the rest. Needs at least 256 bytes.
#define KS_CRC_WIDE __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul")))

// GCC 12's 512-bit extract and broadcast intrinsics pass an undefined vector on, which its own
// warning then takes for an uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

KS_CRC_WIDE inline __attribute__((always_inline)) __m512i ForwardWide(__m512i a, __m512i factors) {
  return _mm512_xor_si512(_mm512_clmulepi64_epi128(a, factors, 0x00),
                          _mm512_clmulepi64_epi128(a, factors, 0x11));
}

// The same factors for each 128-bit part.
KS_CRC_WIDE inline __attribute__((always_inline)) __m512i Widen(__m128i factors) {
  long long low = _mm_cvtsi128_si64(factors);
  long long high = _mm_extract_epi64(factors, 1);
  return _mm512_set4_epi64(high, low, high, low);
}

KS_CRC_WIDE uint32_t Crc32UpdateWide(uint32_t crc, const uint8_t* bytes, uint32_t count) {
  const __m512i by2048 = Widen(foldFactors.by2048);
  const __m512i by512 = Widen(foldFactors.by512);
  __m512i lanes[4];
  for (unsigned j = 0; j < 4; ++j) lanes[j] = _mm512_loadu_si512(bytes + 64 * j);
  lanes[0] = _mm512_xor_si512(lanes[0], _mm512_castsi128_si512(_mm_cvtsi32_si128(int(crc))));
  for (bytes += 256, count -= 256; count >= 256; bytes += 256, count -= 256) {
    for (unsigned j = 0; j < 4; ++j)
      lanes[j] =
          _mm512_xor_si512(ForwardWide(lanes[j], by2048), _mm512_loadu_si512(bytes + 64 * j));
  }
  __m512i wide = lanes[0];
  for (unsigned j = 1; j < 4; ++j) wide = _mm512_xor_si512(ForwardWide(wide, by512), lanes[j]);
  __m128i a = _mm512_castsi512_si128(wide);
  a = _mm_xor_si128(Forward(a, foldFactors.by128), _mm512_extracti32x4_epi32(wide, 1));
  a = _mm_xor_si128(Forward(a, foldFactors.by128), _mm512_extracti32x4_epi32(wide, 2));
  a = _mm_xor_si128(Forward(a, foldFactors.by128), _mm512_extracti32x4_epi32(wide, 3));
  for (; count >= 16; bytes += 16, count -= 16)
    a = _mm_xor_si128(Forward(a, foldFactors.by128), Load(bytes));
  uint8_t rest[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), a);
  return Crc32UpdateBytewise(Crc32UpdateBytewise(0, rest, 16), bytes, count);
}

#pragma GCC diagnostic pop

bool crc32Wide;

}  // namespace

bool crc32Carryless;

uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, uint32_t count) {
  if (!carrylessChecked) {
    __builtin_cpu_init();
    crc32Carryless = __builtin_cpu_supports("pclmul");
    crc32Wide = crc32Carryless && __builtin_cpu_supports("avx512f") &&
                __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("vpclmulqdq");
    foldFactors = {Factors(128), Factors(512), Factors(2048)};
    carrylessChecked = true;
  }
  if (crc32Wide && count >= 256) return Crc32UpdateWide(crc, bytes, count);
  if (crc32Carryless && count >= 64) return Crc32UpdateCarryless(crc, bytes, count);
  return Crc32UpdateLanes(crc, bytes, count);
}

#else

bool crc32Carryless;

uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, uint32_t count) {
  return Crc32UpdateLanes(crc, bytes, count);
}

#endif
