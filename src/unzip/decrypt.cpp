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

// The key schedule and the keystream on a given key set, so that DecryptBuffer can run them on
// a copy in locals: through the global, every byte stored to the buffer (which may alias
// anything) would force the keys back to memory.
inline void StepKeys(DecryptionKeys& k, uint8_t plain) {
  k.key0 = Crc32Step(k.key0, plain);
  k.key1 = (k.key1 + (k.key0 & 0xFF)) * 134775813u + 1;
  k.key2 = Crc32Step(k.key2, static_cast<uint8_t>(k.key1 >> 24));
}

inline uint8_t KeystreamByte(const DecryptionKeys& k) {
  uint32_t t = k.key2 | 2;
  return static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

}  // namespace

void UpdateKeys(uint8_t plain) {
  StepKeys(decryptionKeys, plain);
}

uint8_t DecryptByte() {
  return KeystreamByte(decryptionKeys);
}

void DecryptBuffer(uint8_t* bytes, uint32_t count) {
  DecryptionKeys keys = decryptionKeys;
  for (uint32_t i = 0; i < count; ++i) {
    bytes[i] ^= KeystreamByte(keys);
    StepKeys(keys, bytes[i]);
  }
  decryptionKeys = keys;
}

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
