#include "unzip/walk.h"

#include <string.h>

#include "resources/catalogue.h"
#include "unzip/data_path.h"
#include "unzip/decrypt.h"
#include "unzip/job.h"

namespace {

constexpr uint32_t kLocalFixedBytes = 26;
constexpr uint32_t kCentralFixedBytes = 42;
constexpr uint32_t kEndFixedBytes = 18;
constexpr uint32_t kDescriptorBytes = 16;
constexpr uint32_t kNoLastChar = 0x100;

// The last byte of the current stored name, or kNoLastChar for an empty name.
uint32_t lastNameChar = kNoLastChar;

uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Get32(const uint8_t* p) {
  return Get16(p) | static_cast<uint32_t>(Get16(p + 2)) << 16;
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// Reads exactly `count` bytes of the archive; anything less ends the job.
void ReadArchive(void* buffer, uint32_t count) {
  if (ReadPlatformFile(extractionJob.archiveFile, buffer, count) != static_cast<int32_t>(count))
    FailRead();
}

// Moves forward over data the walk does not use. Sizes are unsigned 32-bit: a size of 2 GB or
// more goes forward in two steps and never backward into the record just read. Past the end of
// the file the next read comes back short.
void SkipForward(uint32_t count) {
  constexpr uint32_t kLargestStep = 0x7FFFFFFF;
  while (count > kLargestStep) {
    SeekPlatformFile(extractionJob.archiveFile, static_cast<int32_t>(kLargestStep), false);
    count -= kLargestStep;
  }
  SeekPlatformFile(extractionJob.archiveFile, static_cast<int32_t>(count), false);
}

void ReadLocalHeader() {
  ExtractionJob& job = extractionJob;
  uint8_t fixed[kLocalFixedBytes];
  ReadArchive(fixed, sizeof fixed);
  LocalHeader& h = job.localHeader;
  h.versionNeeded = Get16(fixed);
  h.flags = Get16(fixed + 2);
  h.method = Get16(fixed + 4);
  h.dosTime = Get16(fixed + 6);
  h.dosDate = Get16(fixed + 8);
  h.crc = Get32(fixed + 10);
  h.compressedSize = Get32(fixed + 14);
  h.uncompressedSize = Get32(fixed + 18);
  h.nameLength = Get16(fixed + 22);
  h.extraLength = Get16(fixed + 24);
  job.encrypted = (h.flags & 1) != 0;
  job.hasDataDescriptor = (h.flags & 8) != 0;
  job.compressedLeft = h.compressedSize;
}

// The skip rules, first match wins: folder entries, empty entries when asked, entries not
// selected. A test-only job selects and names nothing.
bool ShouldExtract() {
  ExtractionJob& job = extractionJob;
  if (lastNameChar != kNoLastChar && IsSeparator(static_cast<char>(lastNameChar))) return false;
  if (job.localHeader.uncompressedSize == 0 && job.request->skipEmptyEntries) return false;
  if (job.testOnly) return true;
  if (!IsSelected()) return false;
  return MakeDestinationPath();
}

void ExtractEntry() {
  ExtractionJob& job = extractionJob;
  if (job.encrypted && !ReadEncryptionHeader())
    FailWithText(kErrorClassPassword, job.jobPassword ? "INCORRECT PASSWORD" : "NO PASSWORD");
  DecodeEntry();
}

}  // namespace

void OpenArchive() {
  ExtractionJob& job = extractionJob;
  job.archiveFile = OpenArchiveFile(job.archivePath);
  if (job.archiveFile == kNoFile) {
    AnsiToOemInPlace(job.archivePath);
    FailExtraction(MSG_CANNOT_OPEN_INPUT, job.archivePath);
  }
  SeekPlatformFile(job.archiveFile, job.request->archiveOffset, true);
  job.hasDataDescriptor = false;
}

void WalkArchive() {
  for (;;) {
    uint8_t signature[4];
    ReadArchive(signature, sizeof signature);
    switch (Get32(signature)) {
      case kLocalHeaderSignature:
        ReadLocalEntry();
        break;
      case kCentralHeaderSignature:
        SkipCentralEntry();
        break;
      case kEndRecordSignature:
        ReadEndRecord();
        return;
      default:
        if (!ResyncToSignature()) FailExtraction(MSG_INVALID_HEADER);
    }
  }
}

void ReadLocalEntry() {
  ExtractionJob& job = extractionJob;
  ReadLocalHeader();
  ReadEntryName(job.localHeader.nameLength);
  SkipForward(job.localHeader.extraLength);
  if (ShouldExtract())
    ExtractEntry();
  else
    SkipForward(job.localHeader.compressedSize);
  if (job.hasDataDescriptor) SkipForward(kDescriptorBytes);
}

void SkipCentralEntry() {
  uint8_t fixed[kCentralFixedBytes];
  ReadArchive(fixed, sizeof fixed);
  ReadEntryName(Get16(fixed + 24));
  SkipForward(Get16(fixed + 26));
  SkipForward(Get16(fixed + 28));
}

void ReadEndRecord() {
  uint8_t fixed[kEndFixedBytes];
  ReadArchive(fixed, sizeof fixed);
  SkipForward(Get16(fixed + 16));
}

// A byte-by-byte scan forward from the byte after the unrecognised signature; after an entry
// with a data descriptor it starts 16 bytes further back, at the end of that entry's data, so
// that a descriptor shorter or longer than the 16 bytes skipped is scanned again.
bool ResyncToSignature() {
  PlatformFile archive = extractionJob.archiveFile;
  if (extractionJob.hasDataDescriptor && !SeekPlatformFile(archive, -17, false)) return false;
  for (;;) {
    if (!SeekPlatformFile(archive, -3, false)) return false;
    uint8_t bytes[4];
    if (ReadPlatformFile(archive, bytes, 4) != 4) return false;
    uint32_t signature = Get32(bytes);
    if (signature == kLocalHeaderSignature || signature == kCentralHeaderSignature ||
        signature == kEndRecordSignature)
      return SeekPlatformFile(archive, -4, false);
  }
}

void ReadEntryName(uint32_t length) {
  ExtractionJob& job = extractionJob;
  uint32_t kept = length < kNameChars - 1 ? length : kNameChars - 1;
  ReadArchive(job.entryName, kept);
  job.entryName[kept] = '\0';
  job.nameTruncated = kept < length;
  lastNameChar = kept ? static_cast<uint8_t>(job.entryName[kept - 1]) : kNoLastChar;
  // The rest of an over-long name is read, not kept: only its last character matters.
  for (uint32_t left = length - kept; left;) {
    uint8_t piece[64];
    uint32_t count = left < sizeof piece ? left : sizeof piece;
    ReadArchive(piece, count);
    lastNameChar = piece[count - 1];
    left -= count;
  }
}

bool IsSelected() {
  ExtractionJob& job = extractionJob;
  if (!job.request->selectedNames) return true;
  for (char* p = job.entryName; *p; ++p)
    if (*p == '\\') *p = '/';
  for (NameListNode* node = job.request->selectedNames; node; node = node->next)
    if (NamesEqualIgnoringCase(node->name, job.entryName)) return true;
  return false;
}

const char* BaseName(const char* path) {
  size_t length = strlen(path);
  for (size_t i = length; i > 1; --i)
    if (IsSeparator(path[i - 1])) return path + i;
  return path;
}

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the name's stem (the text before its first dot, trailing blanks dropped) is a
// device that Windows opens in every folder.
bool IsDeviceName(const char* name, uint32_t length) {
  static const char* const kDevices[] = {"con",  "prn",  "aux",  "nul",  "com1",   "com2",
                                         "com3", "com4", "com5", "com6", "com7",   "com8",
                                         "com9", "lpt1", "lpt2", "lpt3", "lpt4",   "lpt5",
                                         "lpt6", "lpt7", "lpt8", "lpt9", "conin$", "conout$"};
  uint32_t stem = 0;
  while (stem < length && name[stem] != '.') ++stem;
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  for (const char* device : kDevices) {
    uint32_t i = 0;
    while (i < stem && device[i] && LowerAscii(name[i]) == device[i]) ++i;
    if (i == stem && !device[i]) return true;
  }
  return false;
}

// With stored folders kept, every folder component must be an ordinary folder name below the
// destination: no root, no drive, no way up. A lone "." stays where it is and is let through.
bool IsSafeFolderPath(const char* name) {
  if (IsSeparator(name[0])) return false;
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p && !IsSeparator(*p)) continue;
    uint32_t length = static_cast<uint32_t>(p - component);
    bool here = length == 1 && component[0] == '.';
    if (!here && !IsPlainFileName(component, length)) return false;
    if (!*p) return true;
    component = p + 1;
  }
}

// Appends `text` to `target` (holding `used` characters) as far as kNameChars allows.
// False when it had to be cut.
bool AppendPath(char* target, uint32_t& used, const char* text) {
  for (; *text; ++text) {
    if (used + 1 >= kNameChars) return false;
    target[used++] = *text;
  }
  target[used] = '\0';
  return true;
}

}  // namespace

bool IsPlainFileName(const char* name, uint32_t length) {
  if (length == 0) return false;
  bool dotsAndBlanksOnly = true;
  for (uint32_t i = 0; i < length; ++i) {
    if (name[i] == ':' || IsSeparator(name[i])) return false;
    if (name[i] != '.' && name[i] != ' ') dotsAndBlanksOnly = false;
  }
  return !dotsAndBlanksOnly && !IsDeviceName(name, length);
}

// The destination path is the destination folder, a separator and the stored name (folders
// kept) or its base name. Names that cannot be written as an ordinary file inside the
// destination folder, and paths that do not fit, are refused rather than cut or followed.
bool MakeDestinationPath() {
  ExtractionJob& job = extractionJob;
  const char* stored = job.entryName;
  const char* part = job.request->keepFolderNames ? stored : BaseName(stored);
  const char* base = BaseName(stored);
  if (IsSeparator(base[0])) ++base;  // BaseName never looks at the first character
  bool safe = !job.nameTruncated && IsPlainFileName(base, static_cast<uint32_t>(strlen(base)));
  if (job.request->keepFolderNames && !IsSafeFolderPath(stored)) safe = false;

  char path[kNameChars] = "";
  uint32_t used = 0;
  bool fits = AppendPath(path, used, job.request->destinationFolder);
  if (fits && used > 0 && !IsSeparator(path[used - 1])) fits = AppendPath(path, used, "\\");
  if (fits) fits = AppendPath(path, used, part);
  memcpy(job.entryName, path, used + 1);
  for (char* p = job.entryName; *p; ++p)
    if (IsSeparator(*p)) *p = kPathSeparator;
  if (!safe || !fits) FailExtraction(MSG_CANNOT_CREATE_OUTPUT, job.entryName);
  return true;
}

void OemNameToAnsi(const char* source, char* target, uint32_t capacity) {
  const char* tail = source;
  for (const char* p = source; *p; ++p)
    if (IsSeparator(*p)) tail = p + 1;
  uint32_t prefix = static_cast<uint32_t>(tail - source);
  if (prefix >= capacity) prefix = capacity - 1;
  memcpy(target, source, prefix);
  OemToAnsiName(tail, target + prefix, capacity - prefix);
}
