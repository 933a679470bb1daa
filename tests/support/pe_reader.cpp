#include "support/pe_reader.h"

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

}  // namespace

PeImage ParsePeImage(const std::vector<uint8_t>& b) {
  PeImage image;
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return image;
  size_t pe = Read32(b, 0x3c);
  if (Read32(b, pe) != 0x4550) return image;
  image.machine = Read16(b, pe + 4);
  image.isDll = (Read16(b, pe + 22) & 0x2000) != 0;
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
    size_t names = offsetOf(Read32(b, directory + 32));
    for (uint32_t i = 0; i < nameCount && names + 4 * i + 4 <= b.size(); ++i)
      image.exports.insert(ReadText(b, offsetOf(Read32(b, names + 4 * i))));
  }
  image.valid = true;
  return image;
}

PeImage ReadPeImage(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  return ParsePeImage(bytes);
}
