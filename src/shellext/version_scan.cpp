#include "shellext/version_scan.h"

namespace {

constexpr uint32_t kFileVersionAt = 8;  // file version MS, LS, then product version MS, LS
constexpr uint32_t kVersionPartCount = 8;
constexpr uint8_t kSignatureFirstByte = 0xBD;

uint32_t Read32(const uint8_t* at) {
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

uint16_t Read16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

// A signature alone is too common in code and data to trust: real versions have small parts.
bool PlausibleVersions(const uint8_t* candidate, int16_t maxPart) {
  for (uint32_t i = 0; i < kVersionPartCount; ++i)
    if (Read16(candidate + kFileVersionAt + 2 * i) > maxPart) return false;
  return true;
}

}  // namespace

bool FindFixedFileInfo(const uint8_t* image, uint32_t size, int16_t maxPart, uint8_t* record) {
  if (size < kFixedInfoBytes) return false;
  for (uint32_t p = 0; p <= size - kFixedInfoBytes; ++p) {
    if (image[p] != kSignatureFirstByte || Read32(image + p) != kFixedInfoSignature) continue;
    if (!PlausibleVersions(image + p, maxPart)) continue;
    for (uint32_t i = 0; i < kFixedInfoBytes; ++i) record[i] = image[p + i];
    return true;
  }
  return false;
}

FileVersion FileVersionOfRecord(const uint8_t* record) {
  return {Read32(record + kFileVersionAt), Read32(record + kFileVersionAt + 4)};
}

bool SameVersion(FileVersion a, FileVersion b) {
  return a.ms == b.ms && a.ls == b.ls;
}
