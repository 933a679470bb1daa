// A ZIP archive writer for tests: stored and deflated entries, traditional encryption under any
// password, data descriptors with and without signature, folder and empty entries, extra fields,
// comments, the central directory and end record, and junk wherever a test puts it. The records
// themselves are ksdist's (zip_records.h), so the tests write what the tool writes.
#pragma once
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "zip_records.h"

enum class Descriptor { kNone, kWithSignature, kWithoutSignature };

struct ZipEntry {
  std::string name;
  std::string data;     // the entry's content, before compression
  uint16_t method = 0;  // 0 stored, 8 deflated; any other value stores the data as it is
  std::optional<std::string> stream;          // deflated: this Deflate stream instead of zlib's
  std::optional<std::string> password;        // set: encrypted under this password
  Descriptor descriptor = Descriptor::kNone;  // anything else sets flag bit 3
  // Flag bit 3 with CRC and sizes 0 in the local header, as a writer to a pipe leaves them:
  // they follow in the descriptor (with signature, unless `descriptor` says otherwise).
  bool streamed = false;
  uint16_t dosTime = 0x6000;  // 12:00:00
  uint16_t dosDate = 0x2AB1;  // 2001-05-17
  uint16_t extraFlags = 0;    // further general-purpose flag bits
  std::string extra;          // extra field, local and central
  std::string comment;        // file comment, central only
  // What the headers claim instead of the truth, for damaged archives.
  std::optional<uint32_t> claimedCrc;
  std::optional<uint32_t> claimedCompressedSize;
  std::optional<uint32_t> claimedUncompressedSize;
  std::optional<uint8_t> checkByte;            // the encryption header's last plain byte
  std::optional<std::string> descriptorBytes;  // written after the data in place of the descriptor
};

class ZipWriter {
 public:
  // The seed drives the random bytes of the encryption headers.
  explicit ZipWriter(uint32_t seed = 1995) : random_(seed) {}

  // Appends the entry's local header, data and descriptor; returns the header's offset.
  size_t Add(const ZipEntry& entry);
  // Appends bytes as they are: junk between records, a prefix before the archive.
  void AddBytes(const std::string& bytes) { bytes_ += bytes; }
  // Appends the central directory and the end record; returns the whole archive.
  std::string Finish(const std::string& archiveComment = "");
  const std::string& bytes() const { return bytes_; }

 private:
  struct Written {
    ZipEntry entry;
    uint32_t crc;
    uint32_t compressedSize;
    uint32_t offset;
  };
  std::mt19937 random_;
  std::string bytes_;
  std::vector<Written> written_;
};

// An archive of the given entries with its central directory.
std::string MakeZip(const std::vector<ZipEntry>& entries, uint32_t seed = 1995);

// Encrypts `plain` with the traditional ZIP scheme: 11 random bytes and `checkByte` as the
// 12-byte header, then the data.
std::string EncryptTraditional(const std::string& plain, const std::string& password,
                               uint8_t checkByte, std::mt19937& random);
