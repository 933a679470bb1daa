#include "unzip/walk.h"

#include <stddef.h>
#include <string.h>

#include "resources/catalogue.h"
#include "unzip/central_directory.h"
#include "unzip/crc32.h"
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

void SkipStep(uint32_t count) {
  if (!SeekPlatformFile(extractionJob.archiveFile, static_cast<int32_t>(count), false)) FailRead();
}

// Moves forward over data the walk does not use. Sizes are unsigned 32-bit: a size of 2 GB or
// more goes forward in two steps and never backward into the record just read. Past the end of
// a file the next read comes back short; a skip that cannot be made is a read error.
void SkipForward(uint32_t count) {
  constexpr uint32_t kLargestStep = 0x7FFFFFFF;
  for (; count > kLargestStep; count -= kLargestStep) SkipStep(kLargestStep);
  // Most extra fields and comments are empty: nothing to step over, no call.
  if (count) SkipStep(count);
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

// The local entry against its central record: the same name, method and flags, and the same CRC
// and sizes, of which a streamed entry's local header may hold zeros. The central values are
// the ones used.
void CheckAgainstCentralRecord(const CentralRecord& record) {
  ExtractionJob& job = extractionJob;
  LocalHeader& h = job.localHeader;
  constexpr uint16_t kComparedFlags =
      kFlagEncrypted | kFlagStreamed | kFlagStrongEncryption | kFlagUtf8Name;
  bool same = record.nameLength == h.nameLength && record.nameCrc == job.nameCrc &&
              record.method == h.method && ((record.flags ^ h.flags) & kComparedFlags) == 0;
  for (uint32_t i = 0; i < kDescriptorValueBytes; i += 4) {
    uint32_t local = Get32(EntryValues() + i);
    if (local != Get32(reinterpret_cast<const uint8_t*>(&record.crc) + i) &&
        !(job.hasDataDescriptor && local == 0))
      same = false;
  }
  if (record.zip64) RefuseEntry(kReasonZip64, MSG_INVALID_HEADER);
  if (!same) RefuseEntry(kReasonCentralMismatch, MSG_INVALID_HEADER);
  memcpy(EntryValues(), &record.crc, kDescriptorValueBytes);
  job.compressedLeft = h.compressedSize;
}

// Without a usable central directory an entry is taken as its local header says, unless its
// sizes follow its data; a directory that is there but cannot be used refuses every entry.
void CheckWithoutCentralRecord() {
  ExtractionJob& job = extractionJob;
  int reason = job.central.reason;
  if (reason != kReasonNoCentralDirectory || job.hasDataDescriptor)
    RefuseEntry(reason, MSG_INVALID_HEADER);
}

void ResyncOrFail() {
  if (!ResyncToSignature()) FailExtraction(MSG_INVALID_HEADER);
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
  ReadCentralDirectory();
  if (!SeekPlatformFile(job.archiveFile, job.request->archiveOffset, true)) FailRead();
  job.entriesWalked = 0;
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
        if (IsCountedEndRecord(static_cast<uint32_t>(TellPlatformFile(extractionJob.archiveFile)) -
                               4)) {
          ReadEndRecord();
          return;
        }
        ResyncOrFail();
        break;
      default:
        ResyncOrFail();
    }
  }
}

// Zip64 entries are refused wherever they stand: their sizes are not in the header, so the walk
// could not even step over them. Where the central directory is indexed, a local header that it
// does not list is no entry of the archive (a stored archive's, a program's bytes): the walk
// looks for the next record from the byte after its signature.
void ReadLocalEntry() {
  ExtractionJob& job = extractionJob;
  uint32_t headerPosition = static_cast<uint32_t>(TellPlatformFile(job.archiveFile)) - 4;
  const CentralRecord* record = FindCentralRecord(headerPosition);
  if (!record && job.central.reason == kReasonNone) return ResyncOrFail();
  ReadLocalHeader();
  ReadEntryName(job.localHeader.nameLength);
  ConvertEntryName();
  NoteEntryRead(job.request->progressWindow, job.shownName);
  bool zip64 = ScanExtraField(job.localHeader.extraLength);
  if (zip64 || job.localHeader.compressedSize == kZip64Size ||
      job.localHeader.uncompressedSize == kZip64Size)
    RefuseEntry(kReasonZip64, MSG_INVALID_HEADER);
  if (record)
    CheckAgainstCentralRecord(*record);
  else
    CheckWithoutCentralRecord();
  ++job.entriesWalked;
  if (ShouldExtract()) {
    ExtractEntry();
  } else {
    SkipForward(job.localHeader.compressedSize);
    StepOverDescriptor();
  }
}

void StepOverDescriptor() {
  if (!extractionJob.hasDataDescriptor) return;
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
}

void SkipCentralEntry() {
  uint8_t fixed[kCentralFixedBytes];
  ReadArchive(fixed, sizeof fixed);
  ReadEntryName(Get16(fixed + 24));
  SkipForward(Get16(fixed + 26));
  SkipForward(Get16(fixed + 28));
}

// The walk must have met every entry that the end record counts: an archive never ends early
// with success.
void ReadEndRecord() {
  ExtractionJob& job = extractionJob;
  uint8_t fixed[kEndFixedBytes];
  ReadArchive(fixed, sizeof fixed);
  if (Get16(fixed + 6) != job.entriesWalked) {
    job.shownName[0] = '\0';
    RefuseEntry(kReasonDirectoryMismatch, MSG_INVALID_HEADER);
  }
  SkipForward(Get16(fixed + 16));
}

// A byte-by-byte scan forward from the byte after the unrecognised signature.
bool ResyncToSignature() {
  PlatformFile archive = extractionJob.archiveFile;
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
  job.nameCrc = Crc32Update(0xFFFFFFFF, reinterpret_cast<uint8_t*>(job.entryName), kept);
  job.nameTruncated = kept < length;
  lastNameChar = kept ? static_cast<uint8_t>(job.entryName[kept - 1]) : kNoLastChar;
  // The rest of an over-long name is read, not kept: only its last character matters.
  for (uint32_t left = length - kept; left;) {
    uint8_t piece[64];
    uint32_t count = left < sizeof piece ? left : sizeof piece;
    ReadArchive(piece, count);
    job.nameCrc = Crc32Update(job.nameCrc, piece, count);
    lastNameChar = piece[count - 1];
    left -= count;
  }
}

bool IsSelected() {
  ExtractionJob& job = extractionJob;
  if (!job.request->selectedNames) return true;
  for (NameListNode* node = job.request->selectedNames; node; node = node->next)
    if (EntryIsNamed(job.shownName, node->name)) return true;
  return false;
}

bool EntryIsNamed(const char* shown, const char* wanted) {
  char name[kOutputPathChars];
  CopyText(name, shown, sizeof name);
  for (char* p = name; *p; ++p)
    if (*p == '\\') *p = '/';
  return NamesEqualIgnoringCase(name, wanted);
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

// A path as it is being built: at most kNameChars - 1 characters (bytes, or UTF-8 characters)
// and never more bytes than outputPath holds, whatever the bytes are.
struct PathBuilder {
  char* text;
  uint32_t used;
  uint32_t characters;
  // Appends `more` as far as the limits allow; false when it had to be cut.
  bool Append(const char* more) {
    for (; *more; ++more) {
      bool starts = !kFileNamesInUtf8 || (static_cast<uint8_t>(*more) & 0xC0) != 0x80;
      if ((starts && characters + 1 >= kNameChars) || used + 1 >= kOutputPathChars) return false;
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

  // The destination folder is taken as given; only the stored name's separators are the
  // archive's, to be turned into the file system's.
  static const char kSeparator[] = {kPathSeparator, '\0'};
  PathBuilder path = {job.outputPath, 0, 0};
  job.outputPath[0] = '\0';
  bool fits = path.Append(job.request->destinationFolder);
  char last = path.used > 0 ? path.text[path.used - 1] : kPathSeparator;
  if (fits && last != kPathSeparator && last != '/') fits = path.Append(kSeparator);
  job.outputRootLength = path.used;
  fits = fits && path.Append(part) && !job.nameTruncated;
  for (char* p = job.outputPath + job.outputRootLength; *p; ++p)
    if (IsSeparator(*p)) *p = kPathSeparator;
  if (!fits) RefuseEntry(kReasonPathTooLong, MSG_CANNOT_CREATE_OUTPUT, job.outputPath);
  if (!safe) RefuseEntry(kReasonUnsafeName, MSG_CANNOT_CREATE_OUTPUT, job.outputPath);
  return true;
}
