// Traditional ZIP decryption: the three-key state, its keystream, and the check of an entry's
// 12-byte encryption header against the job's password. The data path decrypts below NextByte,
// so the decoders see plain bytes only.
#pragma once
#include <stdint.h>

#include "unzip/crc32.h"

constexpr uint32_t kEncryptionHeaderBytes = 12;

struct DecryptionKeys {
  uint32_t key0;
  uint32_t key1;
  uint32_t key2;
};

// One set for the program; it serves one entry at a time.
extern DecryptionKeys decryptionKeys;

// ksdist's decryption is inline, so that a loop that decrypts a few bytes at a time between
// other work keeps the keys in its locals. SETUP.EXE, built for size, has a plain loop in
// DecryptBuffer.
namespace decrypt_inline {

constexpr uint32_t kKey1Multiplier = 134775813u;

// The CRC table with bit 1 cleared: (a ^ b) | 2 is (a & ~2) ^ (b | 2), so the keystream's two
// factors, key2 | 2 and that ^ 1, come from the table look-up that makes key2 with one XOR
// each, instead of after it.
struct FactorTable {
  uint32_t entries[256];
  constexpr FactorTable() : entries() {
    for (uint32_t n = 0; n < 256; ++n) entries[n] = Crc32Of(n) & ~2u;
  }
};
inline constexpr FactorTable kFactorTable;

// Makes the compiler take `value` as it stands: worked out beside the chain, not folded back
// into it.
inline void KeepApart(uint32_t& value) {
  asm("" : "+r"(value));
}

// Bits 8 to 15 of `product`, in one instruction where the processor has one.
inline uint32_t MiddleByte(uint32_t product) {
#if defined(__x86_64__) || defined(__i386__)
  uint32_t byte;
  asm("movzbl %h1, %0" : "=Q"(byte) : "Q"(product));
  return byte;
#else
  return (product >> 8) & 0xFF;
#endif
}

}  // namespace decrypt_inline

// ksdist's decryption: the keys form one chain of dependent steps from byte to byte, and its
// length sets the speed. Everything that does not wait for the chain is worked out beside it
// (the cipher byte mixed into key0, key1 times the multiplier, the parts of key0 and key2 that
// are only shifted), the keystream's factors come straight from key2's look-up, and no step on
// the chain masks a byte that is one already.
inline void DecryptRun(DecryptionKeys& keys, uint8_t* bytes, uint32_t count) {
  using namespace decrypt_inline;
  DecryptionKeys k = keys;
  uint32_t factor = k.key2 | 2;
  uint32_t otherFactor = factor ^ 1;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t cipher = bytes[i];
    uint32_t key0Mixed = (k.key0 ^ cipher) & 0xFF;
    uint32_t key1Scaled = k.key1 * kKey1Multiplier + 1;
    uint32_t key2Low = k.key2 & 0xFF;
    uint32_t key2Shifted = k.key2 >> 8;
    uint32_t factorRest = key2Shifted | 2;
    uint32_t otherFactorRest = factorRest ^ 1;
    KeepApart(key0Mixed);
    KeepApart(key1Scaled);
    KeepApart(key2Low);
    KeepApart(otherFactorRest);
    uint32_t keystream = MiddleByte(factor * otherFactor);
    bytes[i] = static_cast<uint8_t>(cipher ^ keystream);
    k.key0 = kCrc32Table[key0Mixed ^ keystream] ^ (k.key0 >> 8);
    k.key1 = key1Scaled + static_cast<uint8_t>(k.key0) * kKey1Multiplier;
    uint32_t index = key2Low ^ (k.key1 >> 24);
    k.key2 = kCrc32Table[index] ^ key2Shifted;
    factor = kFactorTable.entries[index] ^ factorRest;
    otherFactor = kFactorTable.entries[index] ^ otherFactorRest;
  }
  keys = k;
}

// Starts the keys and runs them over the password's bytes (up to its NUL).
void InitKeys(const char* password);
// Advances the keys with one plain byte.
void UpdateKeys(uint8_t plain);
// The next keystream byte; the keys do not move.
uint8_t DecryptByte();
// Decrypts `count` bytes in place, in order, continuing from the keys' state.
void DecryptBuffer(uint8_t* bytes, uint32_t count);

// 0 when the job's password decrypts `header` (a copy of it) to the entry's check byte, else -1.
int VerifyEncryptionHeader(const uint8_t* header);
// Reads the entry's 12-byte header from the archive. 1 when the entry may be decoded, 0 when
// no password is in force or it does not fit. A short entry or read ends the job (1037).
int ReadEncryptionHeader();
