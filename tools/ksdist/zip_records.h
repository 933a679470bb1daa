// ZIP records as this project writes them: local and central headers, the end record and the
// data descriptor, DOS stamps, the traditional encryption, and zlib's raw deflate and CRC-32
// (zlib used as a black box). Shared by `ksdist pack` and the tests' archive writer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>

// The "version needed" and "version made by" that every header carries: 2.0, MS-DOS.
constexpr uint16_t kZipVersion = 20;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kFlagDataDescriptor = 8;
constexpr uint16_t kFlagUtf8Name = 0x800;
constexpr uint32_t kZipEncryptionHeaderBytes = 12;
constexpr uint32_t kLocalHeaderFixedBytes = 30;

// MS-DOS file attributes for the central directory.
constexpr uint32_t kDosAttributeFolder = 0x10;
constexpr uint32_t kDosAttributeArchive = 0x20;

// The fields that the local and the central header share.
struct ZipHeaderFields {
  uint16_t flags = 0;
  uint16_t method = kMethodStored;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;  // with the encryption header, if any
  uint32_t uncompressedSize = 0;
  std::string name;  // as stored: code page 437, slashes between folders
  std::string extra;
};

void Put16(std::string& out, uint32_t value);
void Put32(std::string& out, uint32_t value);

std::string LocalHeaderRecord(const ZipHeaderFields& fields);
std::string CentralHeaderRecord(const ZipHeaderFields& fields, uint32_t localHeaderOffset,
                                uint32_t dosAttributes, const std::string& comment = "");
std::string EndRecord(uint32_t entryCount, uint32_t directorySize, uint32_t directoryOffset,
                      const std::string& comment = "");
std::string DataDescriptorRecord(uint32_t crc, uint32_t compressedSize, uint32_t uncompressedSize,
                                 bool withSignature);

uint16_t DosTime(int hour, int minute, int second);
uint16_t DosDate(int year, int month, int day);
// The DOS date and time of `time` (broken down in local time or in UTC, as the caller chose), to
// the even second below as the FAT file system keeps it, and kept between the first and the last
// stamp that the format can hold.
std::pair<uint16_t, uint16_t> DosStamp(const struct tm& time);

// The traditional PKWARE encryption: three keys that advance with each plain byte.
class TraditionalCipher {
 public:
  explicit TraditionalCipher(const std::string& password);
  // The 12-byte encryption header: `random` (11 bytes) and `checkByte`, encrypted.
  std::string Header(const uint8_t* random, uint8_t checkByte);
  void Encrypt(char* data, size_t size);

 private:
  uint8_t EncryptByte(uint8_t plain);
  uint32_t key0_ = 0x12345678, key1_ = 0x23456789, key2_ = 0x34567890;
};

// zlib's raw deflate (no zlib header), fed in pieces.
class RawDeflater {
 public:
  explicit RawDeflater(int level);
  ~RawDeflater();
  RawDeflater(const RawDeflater&) = delete;
  RawDeflater& operator=(const RawDeflater&) = delete;
  // Compresses `size` more bytes and appends what comes out to `out`; `last` ends the stream.
  void Deflate(const char* data, size_t size, bool last, std::string& out);

 private:
  struct Stream;
  Stream* stream_;
};

std::string RawDeflate(const std::string& data, int level = 9);
uint32_t ZlibCrc32(const std::string& data);
uint32_t ZlibCrc32(uint32_t crc, const char* data, size_t size);
