// The container walk: reads the archive front to back as ZIP records (local entries, central
// directory, end record), steps over damaged stretches, decides which entries are extracted and
// under which name, and hands each one to the data path.
#pragma once
#include <stdint.h>
#include <string.h>

// Record signatures.
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;

// The compression methods the engine decodes.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint32_t kDescriptorSignature = 0x08074b50;

// Record fields are little-endian, as the machine is (job.h): a field is one load.
inline uint16_t Get16(const uint8_t* p) {
  uint16_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

inline uint32_t Get32(const uint8_t* p) {
  uint32_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

// General-purpose flag bit 11: the stored name is UTF-8, else in the OEM character set.
constexpr uint16_t kFlagUtf8Name = 0x800;

// Opens the job's archive and positions it at the request's offset; aborts when it cannot.
void OpenArchive();
// Reads and dispatches records until the end record.
void WalkArchive();

// One record each, called right after its signature was read.
void ReadLocalEntry();
void SkipCentralEntry();
void ReadEndRecord();

// Positions the archive at the next known signature; false when there is none.
bool ResyncToSignature();

// Reads a stored name of `length` bytes into entryName and its CRC-32 into nameCrc. A name that
// does not fit is cut and marked, and the rest of it is read past.
void ReadEntryName(uint32_t length);

// After a streamed entry's data, steps over its data descriptor (with or without its signature);
// a descriptor that disagrees with the entry's sizes and CRC ends the job. Other entries have
// none: nothing happens.
void StepOverDescriptor();

// Naming rules. The stored name is written in the file system's characters (shownName); the
// selection compares that, and the destination path is built from it.
bool IsSelected();
// True when an entry whose name is written `shown` is the one named `wanted`: slashes of either
// kind in `shown` are the same, and case is ignored as the file system ignores it.
bool EntryIsNamed(const char* shown, const char* wanted);
// Builds the destination path in outputPath; refuses (message 1030) a name that is too long
// or that would leave the destination folder or address a device.
bool MakeDestinationPath();
// The text after the last slash or backslash; the first character is never examined.
const char* BaseName(const char* path);

// True when `name` is a plain file name: not empty, not made of dots and spaces only, without
// a colon or separator, and not a device name such as CON, NUL, COM1 or LPT1 (any extension).
bool IsPlainFileName(const char* name, uint32_t length);
