#include "unzip/walk.h"

#include <stddef.h>
#include <string.h>

#include "resources/catalogue.h"
#include "unzip/data_path.h"
#include "unzip/decrypt.h"
#include "unzip/job.h"

namespace {

constexpr uint32_t kCentralFixedBytes = 42;
constexpr uint32_t kEndFixedBytes = 18;
constexpr uint32_t kDescriptorValueBytes = 12;  // CRC, compressed and uncompressed size
constexpr uint32_t kNoLastChar = 0x100;
constexpr uint32_t kZip64Size = 0xFFFFFFFF;  // a size kept in a Zip64 record instead

constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kFlagStreamed = 8;  // CRC and sizes follow the data
constexpr uint16_t kFlagStrongEncryption = 0x40;
constexpr uint16_t kMethodAes = 99;
constexpr uint16_t kExtraZip64 = 0x0001;

// The last byte of the current stored name, or kNoLastChar for an empty name.
uint32_t lastNameChar = kNoLastChar;

// Record fields are little-endian, as the machine is (job.h): a field is one load.
uint16_t Get16(const uint8_t* p) {
  uint16_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

uint32_t Get32(const uint8_t* p) {
  uint32_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

// The local header's CRC and sizes, which a central record (at its offset 16) and a data
// descriptor hold in the same order.
uint8_t* EntryValues() {
  return reinterpret_cast<uint8_t*>(&extractionJob.localHeader) + offsetof(LocalHeader, crc);
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
  // Most extra fields and comments are empty: nothing to step over, no call.
  if (count) SeekPlatformFile(extractionJob.archiveFile, static_cast<int32_t>(count), false);
}

void ReadLocalHeader() {
  ExtractionJob& job = extractionJob;
  LocalHeader& h = job.localHeader;
  ReadArchive(&h, sizeof h);
  job.encrypted = (h.flags & kFlagEncrypted) != 0;
  job.hasDataDescriptor = (h.flags & kFlagStreamed) != 0;
  job.compressedLeft = h.compressedSize;
}

// Steps over the extra field; true when it holds a Zip64 record.
bool ScanExtraField(uint32_t length) {
  bool zip64 = false;
  while (length >= 4) {
    uint8_t head[4];
    ReadArchive(head, sizeof head);
    length -= 4;
    zip64 = zip64 || Get16(head) == kExtraZip64;
    uint32_t size = Get16(head + 2) < length ? Get16(head + 2) : length;
    SkipForward(size);
    length -= size;
  }
  SkipForward(length);
  return zip64;
}

// The stored name in the file system's characters, for every use but the central directory's
// comparison.
void ConvertEntryName() {
  ExtractionJob& job = extractionJob;
  bool utf8 = (job.localHeader.flags & kFlagUtf8Name) != 0;
  job.nameWritable = StoredNameToFileName(job.entryName, utf8, job.shownName, sizeof job.shownName);
}

// Finds the end record from the end of the file backwards, within the last input block (no
// entry is being read): an archive comment may take all of it but the record itself.
void FindCentralDirectory() {
  ExtractionJob& job = extractionJob;
  CentralDirectory& central = job.central;
  central.searched = true;
  central.reason = kReasonNoCentralDirectory;
  constexpr uint32_t kEndBytes = 4 + kEndFixedBytes;
  int32_t size = SeekPlatformFileToEnd(job.archiveFile);
  int32_t low = size - static_cast<int32_t>(kBlockSize);
  if (low < job.request->archiveOffset) low = job.request->archiveOffset;
  if (low < 0) low = 0;
  uint32_t count = static_cast<uint32_t>(size - low);
  uint8_t* block = job.inputBuffer;
  if (size < low + static_cast<int32_t>(kEndBytes) ||
      !SeekPlatformFile(job.archiveFile, low, true) ||
      ReadPlatformFile(job.archiveFile, block, count) != static_cast<int32_t>(count))
    return;
  for (uint32_t at = count - kEndBytes + 1; at-- > 0;) {
    const uint8_t* record = block + at;
    if (Get32(record) != kEndRecordSignature || at + kEndBytes + Get16(record + 20) > count)
      continue;
    uint32_t position = static_cast<uint32_t>(low) + at;
    uint32_t directorySize = Get32(record + 12);
    uint32_t recordedStart = Get32(record + 16);
    if (Get16(record + 10) == 0xFFFF || directorySize == kZip64Size ||
        recordedStart == kZip64Size) {
      central.reason = kReasonZip64;
    } else if (directorySize <= position) {
      central.reason = kReasonNone;
      central.start = central.cursor = position - directorySize;
      central.end = position;
      central.bias = central.start - recordedStart;
    }
    return;
  }
}

// Looks through the central records from `from` up to `to` for the one whose local header
// offset is `position`; leaves its fixed part in `fixed` and the archive after it.
bool FindCentralRecord(uint32_t from, uint32_t to, uint32_t position, uint8_t* fixed) {
  ExtractionJob& job = extractionJob;
  for (uint32_t at = from; at < to;) {
    SeekPlatformFile(job.archiveFile, static_cast<int32_t>(at), true);
    if (ReadPlatformFile(job.archiveFile, fixed, 4 + kCentralFixedBytes) !=
            static_cast<int32_t>(4 + kCentralFixedBytes) ||
        Get32(fixed) != kCentralHeaderSignature)
      return false;
    uint32_t next =
        at + 4 + kCentralFixedBytes + Get16(fixed + 28) + Get16(fixed + 30) + Get16(fixed + 32);
    if (Get32(fixed + 42) + job.central.bias == position) {
      job.central.cursor = next;
      return true;
    }
    at = next;
  }
  return false;
}

// True when the central record in `fixed`, whose name the archive is positioned at, describes
// the local entry just read: the same name and method, and the same CRC and sizes wherever the
// local header gives them.
bool CentralRecordMatches(const uint8_t* fixed) {
  ExtractionJob& job = extractionJob;
  const LocalHeader& h = job.localHeader;
  if (Get16(fixed + 28) != h.nameLength || Get16(fixed + 10) != h.method) return false;
  uint32_t kept = static_cast<uint32_t>(strlen(job.entryName));
  if (ReadPlatformFile(job.archiveFile, job.inputBuffer, kept) != static_cast<int32_t>(kept) ||
      memcmp(job.inputBuffer, job.entryName, kept) != 0)
    return false;
  for (uint32_t i = 0; i < 12; i += 4) {
    uint32_t local = Get32(EntryValues() + i);
    if (local != 0 && local != Get32(fixed + 16 + i)) return false;
  }
  return true;
}

// A streamed entry's local header may hold zeros: its CRC and sizes come from its record in the
// central directory, matched by the local header's position.
void TakeSizesFromCentralDirectory(uint32_t headerPosition) {
  ExtractionJob& job = extractionJob;
  CentralDirectory& central = job.central;
  int32_t resume = TellPlatformFile(job.archiveFile);
  if (!central.searched) FindCentralDirectory();
  if (central.reason != kReasonNone) RefuseEntry(central.reason, MSG_INVALID_HEADER);
  uint8_t fixed[4 + kCentralFixedBytes];
  uint32_t cursor = central.cursor;
  if (!FindCentralRecord(cursor, central.end, headerPosition, fixed) &&
      !FindCentralRecord(central.start, cursor, headerPosition, fixed))
    RefuseEntry(kReasonNoCentralDirectory, MSG_INVALID_HEADER);
  if (!CentralRecordMatches(fixed)) RefuseEntry(kReasonCentralMismatch, MSG_INVALID_HEADER);
  memcpy(EntryValues(), fixed + 16, kDescriptorValueBytes);
  job.compressedLeft = job.localHeader.compressedSize;
  SeekPlatformFile(job.archiveFile, resume, true);
}

// The skip rules, first match wins: folder entries, empty entries when asked, entries not
// selected. A test-only job without a destination folder selects and names nothing.
bool ShouldExtract() {
  ExtractionJob& job = extractionJob;
  if (lastNameChar != kNoLastChar && IsSeparator(static_cast<char>(lastNameChar))) return false;
  if (job.localHeader.uncompressedSize == 0 && job.request->skipEmptyEntries) return false;
  if (!job.request->destinationFolder) return true;
  if (!IsSelected()) return false;
  return MakeDestinationPath();
}

// What the engine cannot decode is refused before anything is created for the entry.
void CheckExtractable() {
  ExtractionJob& job = extractionJob;
  const LocalHeader& h = job.localHeader;
  if (!job.nameWritable) RefuseEntry(kReasonNameSpelling, MSG_CANNOT_CREATE_OUTPUT, MessageName());
  if ((h.flags & kFlagStrongEncryption) != 0 || h.method == kMethodAes)
    RefuseEntry(kReasonStrongEncryption, MSG_UNKNOWN_COMPRESSION);
  if (h.method != kMethodStored && h.method != kMethodDeflated)
    RefuseEntry(kReasonMethod, MSG_UNKNOWN_COMPRESSION);
  // A stored entry is its data; one too short for its encryption header is a read error later.
  uint32_t header = job.encrypted ? kEncryptionHeaderBytes : 0;
  if (h.method == kMethodStored && h.compressedSize >= header &&
      h.compressedSize - header != h.uncompressedSize)
    RefuseEntry(kReasonHeaderSizes, MSG_INVALID_HEADER);
}

void ExtractEntry() {
  ExtractionJob& job = extractionJob;
  CheckExtractable();
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

// Zip64 entries are refused wherever they stand: their sizes are not in the header, so the walk
// could not even step over them.
void ReadLocalEntry() {
  ExtractionJob& job = extractionJob;
  uint32_t headerPosition = static_cast<uint32_t>(TellPlatformFile(job.archiveFile)) - 4;
  ReadLocalHeader();
  ReadEntryName(job.localHeader.nameLength);
  ConvertEntryName();
  NoteEntryRead(job.request->progressWindow, job.shownName);
  bool zip64 = ScanExtraField(job.localHeader.extraLength);
  if (zip64 || job.localHeader.compressedSize == kZip64Size ||
      job.localHeader.uncompressedSize == kZip64Size)
    RefuseEntry(kReasonZip64, MSG_INVALID_HEADER);
  if (job.hasDataDescriptor) TakeSizesFromCentralDirectory(headerPosition);
  if (ShouldExtract())
    ExtractEntry();
  else
    SkipForward(job.localHeader.compressedSize);
  if (job.hasDataDescriptor) StepOverDescriptor();
}

void StepOverDescriptor() {
  uint8_t bytes[4 + kDescriptorValueBytes];
  ReadArchive(bytes, kDescriptorValueBytes);
  const uint8_t* values = bytes;
  // The signature is optional, and a CRC may look like it: the values decide.
  if (Get32(bytes) == kDescriptorSignature &&
      memcmp(bytes, EntryValues(), kDescriptorValueBytes) != 0) {
    ReadArchive(bytes + kDescriptorValueBytes, 4);
    values = bytes + 4;
  }
  if (memcmp(values, EntryValues(), kDescriptorValueBytes) != 0)
    RefuseEntry(kReasonDescriptorMismatch, MSG_INVALID_HEADER);
  extractionJob.hasDataDescriptor = false;
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
  for (char* p = job.shownName; *p; ++p)
    if (*p == '\\') *p = '/';
  for (NameListNode* node = job.request->selectedNames; node; node = node->next)
    if (NamesEqualIgnoringCase(node->name, job.shownName)) return true;
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

// Windows reads COM¹ as COM1: the superscripts one, two and three, spelled in the file
// system's characters (code page 1252, or UTF-8).
#ifdef _WIN32
#define KS_SUPERSCRIPT(code) code
#else
#define KS_SUPERSCRIPT(code) "\xc2" code
#endif

// True when the name's stem (the text before its first dot, trailing blanks dropped) is a
// device that Windows opens in every folder.
bool IsDeviceName(const char* name, uint32_t length) {
  static const char* const kDevices[] = {"con",
                                         "prn",
                                         "aux",
                                         "nul",
                                         "com1",
                                         "com2",
                                         "com3",
                                         "com4",
                                         "com5",
                                         "com6",
                                         "com7",
                                         "com8",
                                         "com9",
                                         "lpt1",
                                         "lpt2",
                                         "lpt3",
                                         "lpt4",
                                         "lpt5",
                                         "lpt6",
                                         "lpt7",
                                         "lpt8",
                                         "lpt9",
                                         "conin$",
                                         "conout$",
                                         "com" KS_SUPERSCRIPT("\xb9"),
                                         "com" KS_SUPERSCRIPT("\xb2"),
                                         "com" KS_SUPERSCRIPT("\xb3"),
                                         "lpt" KS_SUPERSCRIPT("\xb9"),
                                         "lpt" KS_SUPERSCRIPT("\xb2"),
                                         "lpt" KS_SUPERSCRIPT("\xb3")};
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

// A path as it is being built: at most kNameChars - 1 characters (bytes, or UTF-8 characters).
struct PathBuilder {
  char* text;
  uint32_t used;
  uint32_t characters;
  // Appends `more` as far as the limit allows; false when it had to be cut.
  bool Append(const char* more) {
    for (; *more; ++more) {
      bool starts = !kFileNamesInUtf8 || (static_cast<uint8_t>(*more) & 0xC0) != 0x80;
      if (starts && characters + 1 >= kNameChars) return false;
      characters += starts;
      text[used++] = *more;
      text[used] = '\0';
    }
    return true;
  }
};

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
// Stored folders are reproduced below the destination folder (the platform creates them) or
// dropped; outputRootLength marks where the destination folder ends.
bool MakeDestinationPath() {
  ExtractionJob& job = extractionJob;
  const char* stored = job.shownName;
  const char* part = job.request->keepFolderNames ? stored : BaseName(stored);
  const char* base = BaseName(stored);
  if (IsSeparator(base[0])) ++base;  // BaseName never looks at the first character
  bool safe = IsPlainFileName(base, static_cast<uint32_t>(strlen(base)));
  if (job.request->keepFolderNames && !IsSafeFolderPath(stored)) safe = false;

  PathBuilder path = {job.outputPath, 0, 0};
  job.outputPath[0] = '\0';
  bool fits = path.Append(job.request->destinationFolder);
  if (fits && path.used > 0 && !IsSeparator(path.text[path.used - 1])) fits = path.Append("\\");
  job.outputRootLength = path.used;
  fits = fits && path.Append(part) && !job.nameTruncated;
  for (char* p = job.outputPath; *p; ++p)
    if (IsSeparator(*p)) *p = kPathSeparator;
  if (!fits) RefuseEntry(kReasonPathTooLong, MSG_CANNOT_CREATE_OUTPUT, job.outputPath);
  if (!safe) RefuseEntry(kReasonUnsafeName, MSG_CANNOT_CREATE_OUTPUT, job.outputPath);
  return true;
}
