// The distribution's seven side files, in the order setup checks and copies them, and how their
// size counts in the progress total. Portable: the distribution tool packs and verifies the same.
#pragma once
#include <stdint.h>

// One side file. A non-zero `replacement` renames the copy: the destination name is `name`
// with its last character replaced (NOTES.TX_ with 'T' becomes NOTES.TXT).
struct SideFileEntry {
  const char* name;
  char replacement;
};

// Ends with a row without a name.
inline constexpr SideFileEntry kSideFiles[] = {
    {"README.TXT", 0},   {"KESTRA.TXT", 0},  {"LICENSE.TXT", 0}, {"VENDOR.TXT", 0},
    {"WHATSNEW.TXT", 0}, {"FILE_ID.DIZ", 0}, {"ORDER.TXT", 0},   {nullptr, 0},
};

// A side file may be compressed by COMPRESS.EXE (an SZDD file); it then counts with the expanded
// size that its 14-byte header carries after the magic, the mode and the name's last character.
constexpr uint32_t kSzddHeaderBytes = 14;

// The size that the file whose first `count` bytes are `header` adds to the progress total:
// the expanded size of an SZDD file, `fallback` (its size) for any other.
inline uint32_t SzddExpandedSize(const uint8_t* header, uint32_t count, uint32_t fallback) {
  constexpr uint8_t kMagic[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
  constexpr int kSizeOffset = 10;
  if (count < kSzddHeaderBytes) return fallback;
  for (int i = 0; i < static_cast<int>(sizeof kMagic); ++i)
    if (header[i] != kMagic[i]) return fallback;
  const uint8_t* size = header + kSizeOffset;
  return size[0] | size[1] << 8 | size[2] << 16 | static_cast<uint32_t>(size[3]) << 24;
}
