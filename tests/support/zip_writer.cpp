#include "support/zip_writer.h"

namespace {

bool HasDescriptor(const ZipEntry& entry) {
  return entry.streamed || entry.descriptor != Descriptor::kNone;
}

uint16_t Flags(const ZipEntry& entry) {
  uint16_t flags = entry.extraFlags;
  if (entry.password) flags |= kFlagEncrypted;
  if (HasDescriptor(entry)) flags |= kFlagDataDescriptor;
  return flags;
}

uint32_t UncompressedSize(const ZipEntry& entry) {
  return entry.claimedUncompressedSize.value_or(static_cast<uint32_t>(entry.data.size()));
}

ZipHeaderFields HeaderFields(const ZipEntry& entry, uint32_t crc, uint32_t compressedSize) {
  ZipHeaderFields fields;
  fields.flags = Flags(entry);
  fields.method = entry.method;
  fields.dosTime = entry.dosTime;
  fields.dosDate = entry.dosDate;
  fields.crc = crc;
  fields.compressedSize = compressedSize;
  fields.uncompressedSize = UncompressedSize(entry);
  fields.name = entry.name;
  fields.extra = entry.extra;
  return fields;
}

}  // namespace

std::string EncryptTraditional(const std::string& plain, const std::string& password,
                               uint8_t checkByte, std::mt19937& random) {
  uint8_t header[kZipEncryptionHeaderBytes - 1];
  for (uint8_t& byte : header) byte = static_cast<uint8_t>(random() & 0xFF);
  TraditionalCipher cipher(password);
  std::string out = cipher.Header(header, checkByte) + plain;
  cipher.Encrypt(out.data() + kZipEncryptionHeaderBytes, plain.size());
  return out;
}

size_t ZipWriter::Add(const ZipEntry& entry) {
  uint32_t crc = ZlibCrc32(entry.data);
  std::string payload = entry.method != kMethodDeflated ? entry.data
                        : entry.stream                  ? *entry.stream
                                                        : RawDeflate(entry.data);
  if (entry.password) {
    uint8_t check = entry.checkByte.value_or(
        static_cast<uint8_t>(HasDescriptor(entry) ? entry.dosTime >> 8 : crc >> 24));
    payload = EncryptTraditional(payload, *entry.password, check, random_);
  }
  uint32_t claimedCrc = entry.claimedCrc.value_or(crc);
  uint32_t compressedSize = entry.claimedCompressedSize.value_or(payload.size());
  size_t offset = bytes_.size();
  ZipHeaderFields local = HeaderFields(entry, claimedCrc, compressedSize);
  if (entry.streamed) local.crc = local.compressedSize = local.uncompressedSize = 0;
  bytes_ += LocalHeaderRecord(local) + payload;
  if (entry.descriptorBytes)
    bytes_ += *entry.descriptorBytes;
  else if (HasDescriptor(entry))
    bytes_ += DataDescriptorRecord(claimedCrc, compressedSize, UncompressedSize(entry),
                                   entry.descriptor != Descriptor::kWithoutSignature);
  written_.push_back({entry, claimedCrc, compressedSize, static_cast<uint32_t>(offset)});
  return offset;
}

std::string ZipWriter::Finish(const std::string& archiveComment) {
  size_t start = bytes_.size();
  for (const Written& w : written_) {
    const ZipEntry& e = w.entry;
    bool folder = !e.name.empty() && (e.name.back() == '/' || e.name.back() == '\\');
    bytes_ += CentralHeaderRecord(HeaderFields(e, w.crc, w.compressedSize), w.offset,
                                  folder ? kDosAttributeFolder : kDosAttributeArchive, e.comment);
  }
  size_t size = bytes_.size() - start;
  bytes_ += EndRecord(static_cast<uint32_t>(written_.size()), static_cast<uint32_t>(size),
                      static_cast<uint32_t>(start), archiveComment);
  return bytes_;
}

std::string MakeZip(const std::vector<ZipEntry>& entries, uint32_t seed) {
  ZipWriter writer(seed);
  for (const ZipEntry& entry : entries) writer.Add(entry);
  return writer.Finish();
}
