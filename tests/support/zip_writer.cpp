#include "support/zip_writer.h"

#include <zlib.h>

#include <stdexcept>

namespace {

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

uint16_t Flags(const ZipEntry& entry) {
  uint16_t flags = entry.extraFlags;
  if (entry.password) flags |= 1;
  if (entry.descriptor != Descriptor::kNone) flags |= 8;
  return flags;
}

// The fields that the local and the central header have in common, from the flags to the
// extra field's length.
void PutSharedFields(std::string& out, const ZipEntry& entry, uint32_t crc,
                     uint32_t compressedSize) {
  Put16(out, Flags(entry));
  Put16(out, entry.method);
  Put16(out, entry.dosTime);
  Put16(out, entry.dosDate);
  Put32(out, crc);
  Put32(out, compressedSize);
  Put32(out, static_cast<uint32_t>(entry.data.size()));
  Put16(out, static_cast<uint32_t>(entry.name.size()));
  Put16(out, static_cast<uint32_t>(entry.extra.size()));
}

// The traditional scheme's three keys, advanced with each plain byte.
struct Keys {
  uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;

  static uint32_t Crc(uint32_t crc, uint8_t byte) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    return crc;
  }
  void Update(uint8_t plain) {
    k0 = Crc(k0, plain);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = Crc(k2, static_cast<uint8_t>(k1 >> 24));
  }
  uint8_t Stream() const {
    uint32_t t = (k2 | 2) & 0xFFFF;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
  }
};

}  // namespace

uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2);
}

uint16_t DosDate(int year, int month, int day) {
  return static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
}

std::string RawDeflate(const std::string& data, int level) {
  z_stream stream = {};
  if (deflateInit2(&stream, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&stream, data.size()) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int status = deflate(&stream, Z_FINISH);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(stream.total_out);
  return out;
}

uint32_t ZlibCrc32(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string EncryptTraditional(const std::string& plain, const std::string& password,
                               uint8_t checkByte, std::mt19937& random) {
  Keys keys;
  for (char c : password) keys.Update(static_cast<uint8_t>(c));
  std::string header;
  for (int i = 0; i < 11; ++i) header += static_cast<char>(random() & 0xFF);
  header += static_cast<char>(checkByte);
  std::string out;
  for (char c : header + plain) {
    uint8_t p = static_cast<uint8_t>(c);
    out += static_cast<char>(p ^ keys.Stream());
    keys.Update(p);
  }
  return out;
}

size_t ZipWriter::Add(const ZipEntry& entry) {
  uint32_t crc = ZlibCrc32(entry.data);
  std::string payload = entry.method == 8 ? RawDeflate(entry.data) : entry.data;
  if (entry.password) {
    uint8_t check = entry.checkByte.value_or(static_cast<uint8_t>(
        entry.descriptor != Descriptor::kNone ? entry.dosTime >> 8 : crc >> 24));
    payload = EncryptTraditional(payload, *entry.password, check, random_);
  }
  uint32_t claimedCrc = entry.claimedCrc.value_or(crc);
  uint32_t compressedSize = entry.claimedCompressedSize.value_or(payload.size());
  size_t offset = bytes_.size();
  Put32(bytes_, 0x04034b50);
  Put16(bytes_, 20);
  PutSharedFields(bytes_, entry, claimedCrc, compressedSize);
  bytes_ += entry.name + entry.extra + payload;
  if (entry.descriptor == Descriptor::kWithSignature) Put32(bytes_, 0x08074b50);
  if (entry.descriptor != Descriptor::kNone) {
    Put32(bytes_, claimedCrc);
    Put32(bytes_, compressedSize);
    Put32(bytes_, static_cast<uint32_t>(entry.data.size()));
  }
  written_.push_back({entry, claimedCrc, compressedSize, static_cast<uint32_t>(offset)});
  return offset;
}

std::string ZipWriter::Finish(const std::string& archiveComment) {
  size_t start = bytes_.size();
  for (const Written& w : written_) {
    const ZipEntry& e = w.entry;
    Put32(bytes_, 0x02014b50);
    Put16(bytes_, 20);
    Put16(bytes_, 20);
    PutSharedFields(bytes_, e, w.crc, w.compressedSize);
    Put16(bytes_, static_cast<uint32_t>(e.comment.size()));
    Put16(bytes_, 0);  // disk
    Put16(bytes_, 0);  // internal attributes
    bool folder = !e.name.empty() && (e.name.back() == '/' || e.name.back() == '\\');
    Put32(bytes_, folder ? 0x10 : 0x20);
    Put32(bytes_, w.offset);
    bytes_ += e.name + e.extra + e.comment;
  }
  size_t size = bytes_.size() - start;
  Put32(bytes_, 0x06054b50);
  Put16(bytes_, 0);
  Put16(bytes_, 0);
  Put16(bytes_, static_cast<uint32_t>(written_.size()));
  Put16(bytes_, static_cast<uint32_t>(written_.size()));
  Put32(bytes_, static_cast<uint32_t>(size));
  Put32(bytes_, static_cast<uint32_t>(start));
  Put16(bytes_, static_cast<uint32_t>(archiveComment.size()));
  bytes_ += archiveComment;
  return bytes_;
}

std::string MakeZip(const std::vector<ZipEntry>& entries, uint32_t seed) {
  ZipWriter writer(seed);
  for (const ZipEntry& entry : entries) writer.Add(entry);
  return writer.Finish();
}
