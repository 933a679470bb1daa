// Traditional ZIP decryption: the three-key state, its keystream, and the check of an entry's
// 12-byte encryption header against the job's password. The data path decrypts below NextByte,
// so the decoders see plain bytes only.
#pragma once
#include <stdint.h>

constexpr uint32_t kEncryptionHeaderBytes = 12;

struct DecryptionKeys {
  uint32_t key0;
  uint32_t key1;
  uint32_t key2;
};

// One set for the program; it serves one entry at a time.
extern DecryptionKeys decryptionKeys;

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
