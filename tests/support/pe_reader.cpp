#include "support/pe_reader.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

uint32_t Read32(const std::vector<uint8_t>& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

uint16_t Read16(const std::vector<uint8_t>& b, size_t at) {
  if (at + 2 > b.size()) return 0;
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

std::string ReadText(const std::vector<uint8_t>& b, size_t at) {
  std::string text;
  while (at < b.size() && b[at]) text += static_cast<char>(b[at++]);
  return text;
}

struct Section {
  uint32_t virtualAddress, virtualSize, rawOffset;
};

constexpr size_t kSymbolBytes = 18;
constexpr uint16_t kFunctionSymbolType = 0x20;

// The COFF symbol table that the linker leaves in an image it did not strip: the function
// symbols with their addresses. A symbol name of more than eight bytes lies in the string table
// that follows the symbols.
void ReadFunctionSymbols(const std::vector<uint8_t>& b, size_t pe,
                         const std::vector<Section>& sections, PeImage& image) {
  size_t table = Read32(b, pe + 12), count = Read32(b, pe + 16);
  size_t strings = table + count * kSymbolBytes;
  if (!table || strings > b.size()) return;
  for (size_t i = 0; i < count; ++i) {
    size_t at = table + i * kSymbolBytes;
    int16_t section = static_cast<int16_t>(Read16(b, at + 12));
    if (section > 0 && size_t(section) <= sections.size() &&
        Read16(b, at + 14) == kFunctionSymbolType) {
      std::string name = Read32(b, at) ? std::string(reinterpret_cast<const char*>(&b[at]), 8)
                                       : ReadText(b, strings + Read32(b, at + 4));
      name.resize(strlen(name.c_str()));
      image.functionSymbols.emplace(sections[section - 1].virtualAddress + Read32(b, at + 8), name);
    }
    i += b[at + 17];  // auxiliary records
  }
}

}  // namespace

PeImage ParsePeImage(const std::vector<uint8_t>& b) {
  PeImage image;
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return image;
  size_t pe = Read32(b, 0x3c);
  if (Read32(b, pe) != 0x4550) return image;
  image.machine = Read16(b, pe + 4);
  image.isDll = (Read16(b, pe + 22) & 0x2000) != 0;
  image.timeStamp = Read32(b, pe + 8);
  uint16_t sectionCount = Read16(b, pe + 6);
  uint16_t optionalSize = Read16(b, pe + 20);
  size_t optional = pe + 24;
  image.is64 = Read16(b, optional) == 0x20b;
  image.subsystemMajor = Read16(b, optional + 48);
  image.subsystemMinor = Read16(b, optional + 50);
  image.subsystem = Read16(b, optional + 68);
  size_t directories = optional + (image.is64 ? 112 : 96);
  uint32_t exportRva = Read32(b, directories);
  uint32_t importRva = Read32(b, directories + 8);

  std::vector<Section> sections;
  for (size_t i = 0, at = optional + optionalSize; i < sectionCount; ++i, at += 40)
    sections.push_back({Read32(b, at + 12), Read32(b, at + 8), Read32(b, at + 20)});
  auto offsetOf = [&](uint32_t rva) -> size_t {
    for (const Section& s : sections)
      if (rva >= s.virtualAddress && rva < s.virtualAddress + s.virtualSize)
        return rva - s.virtualAddress + s.rawOffset;
    return b.size();
  };

  for (size_t descriptor = offsetOf(importRva); descriptor + 20 <= b.size(); descriptor += 20) {
    uint32_t thunks = Read32(b, descriptor) ? Read32(b, descriptor) : Read32(b, descriptor + 16);
    uint32_t nameRva = Read32(b, descriptor + 12);
    if (!nameRva) break;
    auto& functions = image.imports[ReadText(b, offsetOf(nameRva))];
    size_t step = image.is64 ? 8 : 4;
    for (size_t thunk = offsetOf(thunks); thunk + step <= b.size(); thunk += step) {
      uint64_t entry =
          image.is64 ? (Read32(b, thunk) | uint64_t(Read32(b, thunk + 4)) << 32) : Read32(b, thunk);
      if (!entry) break;
      bool byOrdinal = image.is64 ? (entry >> 63) : (entry >> 31);
      std::string name =
          byOrdinal ? std::to_string(entry & 0xffff) : ReadText(b, offsetOf(uint32_t(entry)) + 2);
      functions.insert(byOrdinal ? name.insert(0, 1, '#') : name);
    }
  }
  if (exportRva) {
    size_t directory = offsetOf(exportRva);
    uint32_t nameCount = Read32(b, directory + 24);
    size_t functions = offsetOf(Read32(b, directory + 28));
    size_t names = offsetOf(Read32(b, directory + 32));
    size_t ordinals = offsetOf(Read32(b, directory + 36));
    for (uint32_t i = 0; i < nameCount && names + 4 * i + 4 <= b.size(); ++i) {
      std::string name = ReadText(b, offsetOf(Read32(b, names + 4 * i)));
      image.exports.insert(name);
      image.exportAddresses[name] = Read32(b, functions + 4 * Read16(b, ordinals + 2 * i));
    }
  }
  ReadFunctionSymbols(b, pe, sections, image);
  image.valid = true;
  return image;
}

PeImage ReadPeImage(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  return ParsePeImage(bytes);
}
