#include "pe_resources.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kSectionHeaderBytes = 40;
constexpr uint32_t kDirectoryHeaderBytes = 16;
constexpr uint32_t kDirectoryEntryBytes = 8;
constexpr uint32_t kHighBit = 0x80000000;

struct Section {
  uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

// Little-endian reads that fail instead of reading past the image.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool Has(uint64_t offset, uint64_t size) const { return offset + size <= bytes_.size(); }
  std::optional<uint32_t> U16(uint64_t offset) const {
    if (!Has(offset, 2)) return std::nullopt;
    return Byte(offset) | Byte(offset + 1) << 8;
  }
  std::optional<uint32_t> U32(uint64_t offset) const {
    if (!Has(offset, 4)) return std::nullopt;
    return Byte(offset) | Byte(offset + 1) << 8 | Byte(offset + 2) << 16 |
           static_cast<uint32_t>(Byte(offset + 3)) << 24;
  }
  std::string_view Slice(uint64_t offset, uint64_t size) const {
    return bytes_.substr(offset, size);
  }

 private:
  uint32_t Byte(uint64_t offset) const { return static_cast<uint8_t>(bytes_[offset]); }
  std::string_view bytes_;
};

// The image's layout as far as the resource lookup needs it.
struct Layout {
  std::vector<Section> sections;
  uint32_t resourceRva = 0;
  uint32_t resourceSize = 0;
};

std::optional<Layout> ReadLayout(const Reader& image, std::string& error) {
  std::optional<uint32_t> peAt = image.U32(0x3C);
  if (!image.U16(0) || *image.U16(0) != 0x5A4D || !peAt || image.U32(*peAt) != kPeSignature) {
    error = "not a Windows program (no PE header)";
    return std::nullopt;
  }
  uint64_t coff = *peAt + 4;
  std::optional<uint32_t> sectionCount = image.U16(coff + 2);
  std::optional<uint32_t> optionalSize = image.U16(coff + 16);
  uint64_t optional = coff + 20;
  std::optional<uint32_t> magic = image.U16(optional);
  if (!sectionCount || !optionalSize || !magic ||
      (*magic != kPe32Magic && *magic != kPe32PlusMagic)) {
    error = "damaged PE header";
    return std::nullopt;
  }
  bool plus = *magic == kPe32PlusMagic;
  Layout layout;
  std::optional<uint32_t> directoryCount = image.U32(optional + (plus ? 108 : 92));
  uint64_t directory = optional + (plus ? 112 : 96) + 8 * kResourceDirectoryIndex;
  if (directoryCount && *directoryCount > kResourceDirectoryIndex &&
      directory + 8 <= optional + *optionalSize) {
    layout.resourceRva = image.U32(directory).value_or(0);
    layout.resourceSize = image.U32(directory + 4).value_or(0);
  }
  uint64_t table = optional + *optionalSize;
  for (uint32_t i = 0; i < *sectionCount; ++i) {
    uint64_t at = table + i * kSectionHeaderBytes;
    if (!image.Has(at, kSectionHeaderBytes)) {
      error = "damaged section table";
      return std::nullopt;
    }
    layout.sections.push_back(
        {*image.U32(at + 12), *image.U32(at + 8), *image.U32(at + 16), *image.U32(at + 20)});
  }
  return layout;
}

// The file offset of `size` bytes at `rva`, when they lie in one section's data in the file.
std::optional<uint64_t> FileOffset(const Layout& layout, const Reader& image, uint32_t rva,
                                   uint32_t size) {
  for (const Section& s : layout.sections) {
    if (rva < s.virtualAddress) continue;
    uint64_t into = rva - s.virtualAddress;
    if (into + size > s.rawSize) continue;
    uint64_t offset = static_cast<uint64_t>(s.rawOffset) + into;
    if (image.Has(offset, size)) return offset;
  }
  return std::nullopt;
}

// The resource tree: offsets in it count from the start of the resource directory.
class ResourceTree {
 public:
  ResourceTree(const Layout& layout, const Reader& image) : layout_(layout), image_(image) {}

  // The target of the entry `name` in the directory at `directory`: a named entry, or for "#N"
  // the numbered entry N.
  std::optional<uint32_t> Find(uint32_t directory, const std::string& name) const {
    std::optional<uint32_t> named = U16(directory + 12), numbered = U16(directory + 14);
    if (!named || !numbered) return std::nullopt;
    std::optional<uint32_t> id = NumberIn(name);
    for (uint32_t i = 0; i < *named + *numbered; ++i) {
      uint32_t entry = directory + kDirectoryHeaderBytes + i * kDirectoryEntryBytes;
      std::optional<uint32_t> field = U32(entry);
      if (!field) return std::nullopt;
      bool match = (*field & kHighBit) ? !id && NameIs(*field & ~kHighBit, name) : *field == id;
      if (match) return U32(entry + 4);
    }
    return std::nullopt;
  }
  // The target of the directory's first entry, named or numbered.
  std::optional<uint32_t> First(uint32_t directory) const {
    std::optional<uint32_t> named = U16(directory + 12), numbered = U16(directory + 14);
    if (!named || !numbered || *named + *numbered == 0) return std::nullopt;
    return U32(directory + kDirectoryHeaderBytes + 4);
  }
  std::optional<uint32_t> U16(uint32_t offset) const { return Read(offset, 2); }
  std::optional<uint32_t> U32(uint32_t offset) const { return Read(offset, 4); }

 private:
  std::optional<uint32_t> Read(uint32_t offset, uint32_t size) const {
    if (static_cast<uint64_t>(offset) + size > layout_.resourceSize) return std::nullopt;
    std::optional<uint64_t> at = FileOffset(layout_, image_, layout_.resourceRva + offset, size);
    if (!at) return std::nullopt;
    return size == 2 ? image_.U16(*at) : image_.U32(*at);
  }
  // A directory string: a count of UTF-16 units, then the units.
  bool NameIs(uint32_t offset, const std::string& name) const {
    std::optional<uint32_t> length = U16(offset);
    if (!length || *length != name.size()) return false;
    for (uint32_t i = 0; i < *length; ++i) {
      std::optional<uint32_t> unit = U16(offset + 2 + 2 * i);
      if (!unit || Upper(*unit) != Upper(static_cast<uint8_t>(name[i]))) return false;
    }
    return true;
  }
  static uint32_t Upper(uint32_t c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }
  // N of a name "#N", as the Windows resource functions read it.
  static std::optional<uint32_t> NumberIn(const std::string& name) {
    if (name.size() < 2 || name.size() > 6 || name[0] != '#') return std::nullopt;
    uint32_t number = 0;
    for (size_t i = 1; i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9') return std::nullopt;
      number = number * 10 + static_cast<uint32_t>(name[i] - '0');
    }
    if (number > 0xFFFF) return std::nullopt;
    return number;
  }

  const Layout& layout_;
  const Reader& image_;
};

// One step down the tree: the entry must lead to a subdirectory.
std::optional<uint32_t> Subdirectory(std::optional<uint32_t> target) {
  if (!target || !(*target & kHighBit)) return std::nullopt;
  return *target & ~kHighBit;
}

}  // namespace

PeResource FindPeResource(std::string_view bytes, const std::string& type,
                          const std::string& name) {
  PeResource result;
  Reader image(bytes);
  std::optional<Layout> layout = ReadLayout(image, result.error);
  if (!layout) return result;
  if (layout->resourceSize == 0) {
    result.error = "no resources";
    return result;
  }
  ResourceTree tree(*layout, image);
  std::optional<uint32_t> names = Subdirectory(tree.Find(0, type));
  std::optional<uint32_t> languages = names ? Subdirectory(tree.Find(*names, name)) : names;
  std::optional<uint32_t> entry = languages ? tree.First(*languages) : languages;
  if (!entry || (*entry & kHighBit)) {
    result.error = "no resource " + name + " of type " + type;
    return result;
  }
  std::optional<uint32_t> rva = tree.U32(*entry), size = tree.U32(*entry + 4);
  std::optional<uint64_t> at = rva && size ? FileOffset(*layout, image, *rva, *size) : std::nullopt;
  if (!at) {
    result.error = "resource " + name + " lies outside the file";
    return result;
  }
  result.found = true;
  result.bytes = std::string(image.Slice(*at, *size));
  return result;
}

std::optional<uint64_t> PeSectionsEnd(std::string_view bytes, std::string& error) {
  std::optional<Layout> layout = ReadLayout(Reader(bytes), error);
  if (!layout) return std::nullopt;
  uint64_t end = 0;
  for (const Section& s : layout->sections)
    end = std::max(end, static_cast<uint64_t>(s.rawOffset) + s.rawSize);
  return end;
}
