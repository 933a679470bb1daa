// Recognising a library's file version without the platform: a byte scan of the image for the
// fixed version record, and the comparison of two versions. Portable, so it is tested natively.
#pragma once
#include <cstdint>

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kFixedInfoBytes = 52;  // the whole fixed version record

// A file version a.b.c.d: a and b are the high and low halves of `ms`, c and d those of `ls`.
struct FileVersion {
  uint32_t ms;
  uint32_t ls;
};

// Scans `image` byte by byte, at any alignment, for the first fixed version record whose
// signature matches and whose file and product versions have no 16-bit part above `maxPart`.
// Copies that record's 52 bytes to `record`; false when there is none.
bool FindFixedFileInfo(const uint8_t* image, uint32_t size, int16_t maxPart, uint8_t* record);

// The file version held by a fixed version record that FindFixedFileInfo returned.
FileVersion FileVersionOfRecord(const uint8_t* record);

// Versions are equal or not; there is no older or newer.
bool SameVersion(FileVersion a, FileVersion b);
