#include "zip_records.h"

#include <zlib.h>

#include <stdexcept>

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kDataDescriptorSignature = 0x08074b50;

// From the flags to the extra field's length: the same in both headers.
void PutSharedFields(std::string& out, const ZipHeaderFields& fields) {
  Put16(out, fields.flags);
  Put16(out, fields.method);
  Put16(out, fields.dosTime);
  Put16(out, fields.dosDate);
  Put32(out, fields.crc);
  Put32(out, fields.compressedSize);
  Put32(out, fields.uncompressedSize);
  Put16(out, static_cast<uint32_t>(fields.name.size()));
  Put16(out, static_cast<uint32_t>(fields.extra.size()));
}

uint32_t CrcStep(uint32_t crc, uint8_t byte) {
  crc ^= byte;
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  return crc;
}

}  // namespace

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

std::string LocalHeaderRecord(const ZipHeaderFields& fields) {
  std::string out;
  Put32(out, kLocalHeaderSignature);
  Put16(out, kZipVersion);
  PutSharedFields(out, fields);
  return out + fields.name + fields.extra;
}

std::string CentralHeaderRecord(const ZipHeaderFields& fields, uint32_t localHeaderOffset,
                                uint32_t dosAttributes, const std::string& comment) {
  std::string out;
  Put32(out, kCentralHeaderSignature);
  Put16(out, kZipVersion);  // made by
  Put16(out, kZipVersion);  // needed
  PutSharedFields(out, fields);
  Put16(out, static_cast<uint32_t>(comment.size()));
  Put16(out, 0);  // disk
  Put16(out, 0);  // internal attributes
  Put32(out, dosAttributes);
  Put32(out, localHeaderOffset);
  return out + fields.name + fields.extra + comment;
}

std::string EndRecord(uint32_t entryCount, uint32_t directorySize, uint32_t directoryOffset,
                      const std::string& comment) {
  std::string out;
  Put32(out, kEndRecordSignature);
  Put16(out, 0);  // this disk
  Put16(out, 0);  // the directory's disk
  Put16(out, entryCount);
  Put16(out, entryCount);
  Put32(out, directorySize);
  Put32(out, directoryOffset);
  Put16(out, static_cast<uint32_t>(comment.size()));
  return out + comment;
}

std::string DataDescriptorRecord(uint32_t crc, uint32_t compressedSize, uint32_t uncompressedSize,
                                 bool withSignature) {
  std::string out;
  if (withSignature) Put32(out, kDataDescriptorSignature);
  Put32(out, crc);
  Put32(out, compressedSize);
  Put32(out, uncompressedSize);
  return out;
}

uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2);
}

uint16_t DosDate(int year, int month, int day) {
  return static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
}

std::pair<uint16_t, uint16_t> DosStamp(const struct tm& time) {
  if (time.tm_year < 80) return {DosDate(1980, 1, 1), DosTime(0, 0, 0)};
  if (time.tm_year > 207) return {DosDate(2107, 12, 31), DosTime(23, 59, 58)};
  return {DosDate(time.tm_year + 1900, time.tm_mon + 1, time.tm_mday),
          DosTime(time.tm_hour, time.tm_min, time.tm_sec)};
}

TraditionalCipher::TraditionalCipher(const std::string& password) {
  for (char c : password) {
    key0_ = CrcStep(key0_, static_cast<uint8_t>(c));
    key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
    key2_ = CrcStep(key2_, static_cast<uint8_t>(key1_ >> 24));
  }
}

uint8_t TraditionalCipher::EncryptByte(uint8_t plain) {
  uint32_t t = (key2_ | 2) & 0xFFFF;
  uint8_t cipher = static_cast<uint8_t>(plain ^ ((t * (t ^ 1)) >> 8));
  key0_ = CrcStep(key0_, plain);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = CrcStep(key2_, static_cast<uint8_t>(key1_ >> 24));
  return cipher;
}

std::string TraditionalCipher::Header(const uint8_t* random, uint8_t checkByte) {
  std::string header(reinterpret_cast<const char*>(random), kZipEncryptionHeaderBytes - 1);
  header += static_cast<char>(checkByte);
  Encrypt(header.data(), header.size());
  return header;
}

void TraditionalCipher::Encrypt(char* data, size_t size) {
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>(EncryptByte(static_cast<uint8_t>(data[i])));
}

struct RawDeflater::Stream {
  z_stream z = {};
};

RawDeflater::RawDeflater(int level) : stream_(new Stream) {
  if (deflateInit2(&stream_->z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    delete stream_;
    throw std::runtime_error("zlib's deflateInit2 failed");
  }
}

RawDeflater::~RawDeflater() {
  deflateEnd(&stream_->z);
  delete stream_;
}

void RawDeflater::Deflate(const char* data, size_t size, bool last, std::string& out) {
  z_stream& z = stream_->z;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  z.avail_in = static_cast<uInt>(size);
  char block[65536];
  int status;
  do {
    z.next_out = reinterpret_cast<Bytef*>(block);
    z.avail_out = sizeof block;
    status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
    if (status == Z_STREAM_ERROR) throw std::runtime_error("zlib's deflate failed");
    out.append(block, sizeof block - z.avail_out);
  } while (z.avail_out == 0 || (last && status != Z_STREAM_END));
}

std::string RawDeflate(const std::string& data, int level) {
  RawDeflater deflater(level);
  std::string out;
  deflater.Deflate(data.data(), data.size(), true, out);
  return out;
}

uint32_t ZlibCrc32(uint32_t crc, const char* data, size_t size) {
  return static_cast<uint32_t>(
      crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

uint32_t ZlibCrc32(const std::string& data) {
  return ZlibCrc32(0, data.data(), data.size());
}
