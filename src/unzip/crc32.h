// The CRC-32 of the ZIP format (reflected polynomial 0xEDB88320), one table step per byte. The
// data path checks entries with it and the decryption's key schedule mixes bytes with it.
#pragma once
#include <stdint.h>

extern const uint32_t kCrc32Table[256];

// The remainder of byte n divided by the reflected polynomial: kCrc32Table[n], for tables that
// the compiler works out.
constexpr uint32_t Crc32Of(uint32_t n) {
  for (int bit = 0; bit < 8; ++bit) n = (n & 1) ? 0xEDB88320u ^ (n >> 1) : n >> 1;
  return n;
}

// One step of the register over `byte`.
inline uint32_t Crc32Step(uint32_t crc, uint8_t byte) {
  return kCrc32Table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

// Runs the register over `count` bytes. Start with 0xFFFFFFFF and complement the end result.
// With crc32Carryless (set at the first call where the processor and the build allow it), runs
// of 64 bytes and more go through the carry-less multiply; else Crc32UpdateLanes.
uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, uint32_t count);
extern bool crc32Carryless;

// The portable tables: several 8-byte words side by side.
uint32_t Crc32UpdateLanes(uint32_t crc, const uint8_t* bytes, uint32_t count);

// The same one table step per byte: what Crc32Update is tested against.
uint32_t Crc32UpdateBytewise(uint32_t crc, const uint8_t* bytes, uint32_t count);
