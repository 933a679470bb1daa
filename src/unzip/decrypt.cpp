#include "unzip/decrypt.h"

#include "unzip/crc32.h"
#include "unzip/data_path.h"
#include "unzip/job.h"

DecryptionKeys decryptionKeys;

void InitKeys(const char* password) {
  decryptionKeys = {0x12345678, 0x23456789, 0x34567890};
  for (const char* p = password; *p; ++p) UpdateKeys(static_cast<uint8_t>(*p));
}

namespace {

using decrypt_inline::kKey1Multiplier;

inline uint8_t KeystreamByte(const DecryptionKeys& k) {
  uint32_t t = k.key2 | 2;
  return static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

}  // namespace

void UpdateKeys(uint8_t plain) {
  DecryptionKeys& k = decryptionKeys;
  k.key0 = Crc32Step(k.key0, plain);
  k.key1 = (k.key1 + (k.key0 & 0xFF)) * kKey1Multiplier + 1;
  k.key2 = Crc32Step(k.key2, static_cast<uint8_t>(k.key1 >> 24));
}

uint8_t DecryptByte() {
  return KeystreamByte(decryptionKeys);
}

#if !defined(__OPTIMIZE_SIZE__)

void DecryptBuffer(uint8_t* bytes, uint32_t count) {
  DecryptRun(decryptionKeys, bytes, count);
}

#else

// DecryptByte and UpdateKeys byte after byte, on a copy of the keys in locals: through the
// global, every byte stored to the buffer (which may alias anything) would force the keys back
// to memory. The keys form one chain of dependent steps from byte to byte, and its length sets
// the speed, so what does not wait for the keystream byte (the cipher byte mixed into key0, key1
// times the multiplier) is worked out beside the chain rather than on it.
void DecryptBuffer(uint8_t* bytes, uint32_t count) {
  DecryptionKeys k = decryptionKeys;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t cipher = bytes[i];
    uint32_t key0Mixed = k.key0 ^ cipher;
    uint32_t key1Scaled = k.key1 * kKey1Multiplier + 1;
    uint8_t keystream = KeystreamByte(k);
    bytes[i] = cipher ^ keystream;
    k.key0 = kCrc32Table[(key0Mixed ^ keystream) & 0xFF] ^ (k.key0 >> 8);
    k.key1 = key1Scaled + (k.key0 & 0xFF) * kKey1Multiplier;
    k.key2 = Crc32Step(k.key2, static_cast<uint8_t>(k.key1 >> 24));
  }
  decryptionKeys = k;
}

#endif

// The header's last plain byte repeats the high byte of the CRC, or of the time when the CRC
// was not known before the data was written (flag bit 3).
int VerifyEncryptionHeader(const uint8_t* header) {
  const ExtractionJob& job = extractionJob;
  uint8_t plain[kEncryptionHeaderBytes];
  for (uint32_t i = 0; i < kEncryptionHeaderBytes; ++i) plain[i] = header[i];
  InitKeys(job.jobPassword);
  DecryptBuffer(plain, kEncryptionHeaderBytes);
  uint8_t check = job.hasDataDescriptor ? static_cast<uint8_t>(job.localHeader.dosTime >> 8)
                                        : static_cast<uint8_t>(job.localHeader.crc >> 24);
  return plain[kEncryptionHeaderBytes - 1] == check ? 0 : -1;
}

// An entry too short to hold the header is damaged: it is reported as a short read before
// anything is read past its end.
int ReadEncryptionHeader() {
  ExtractionJob& job = extractionJob;
  if (job.compressedLeft < kEncryptionHeaderBytes) FailRead();
  uint8_t header[kEncryptionHeaderBytes];
  if (ReadPlatformFile(job.archiveFile, header, kEncryptionHeaderBytes) !=
      static_cast<int32_t>(kEncryptionHeaderBytes))
    FailRead();
  job.compressedLeft -= kEncryptionHeaderBytes;
  if (!job.jobPassword) return 0;
  return VerifyEncryptionHeader(header) == 0 ? 1 : 0;
}
