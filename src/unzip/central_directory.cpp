#include "unzip/central_directory.h"

#include <string.h>

#include "resources/catalogue.h"
#include "unzip/job.h"
#include "unzip/walk.h"

namespace {

constexpr uint32_t kEndBytes = 22;            // the end record with its signature
constexpr uint32_t kCentralBytes = 46;        // a central record's fixed part with its signature
constexpr uint32_t kLongestComment = 0xFFFF;  // the end record's comment follows it
constexpr uint32_t kZip64Value = 0xFFFFFFFF;  // a value kept in a Zip64 record instead

// The end of the file is read backwards in pieces of this size; the pieces overlap by a record
// less one byte, so that a record across two pieces is seen whole in one of them.
uint8_t tailPiece[1024];

// Reads `count` bytes at `position`; false when they are not all there.
bool ReadAt(uint32_t position, void* buffer, uint32_t count) {
  PlatformFile archive = extractionJob.archiveFile;
  return SeekPlatformFile(archive, static_cast<int32_t>(position), true) &&
         ReadPlatformFile(archive, buffer, count) == static_cast<int32_t>(count);
}

// The last end record of the file whose comment ends within the file, at or after `low`.
bool FindEndRecord(uint32_t low, uint32_t size, uint8_t* record) {
  uint32_t limit = size - low;
  if (limit > kEndBytes + kLongestComment) low = size - kEndBytes - kLongestComment;
  for (uint32_t pieceEnd = size; pieceEnd >= low + kEndBytes;) {
    uint32_t pieceStart = pieceEnd - low > sizeof tailPiece ? pieceEnd - sizeof tailPiece : low;
    uint32_t count = pieceEnd - pieceStart;
    if (!ReadAt(pieceStart, tailPiece, count)) return false;
    for (uint32_t at = count - kEndBytes + 1; at-- > 0;) {
      const uint8_t* p = tailPiece + at;
      if (Get32(p) == kEndRecordSignature && pieceStart + at + kEndBytes + Get16(p + 20) <= size) {
        memcpy(record, p, kEndBytes);
        extractionJob.central.endPosition = pieceStart + at;
        return true;
      }
    }
    pieceEnd = pieceStart + kEndBytes - 1;
  }
  return false;
}

// Heap sort by localPosition: n log n whatever the order, no memory of its own.
void SiftDown(CentralRecord* records, uint32_t root, uint32_t count) {
  for (uint32_t child; (child = 2 * root + 1) < count; root = child) {
    if (child + 1 < count && records[child + 1].localPosition > records[child].localPosition)
      ++child;
    if (records[root].localPosition >= records[child].localPosition) return;
    CentralRecord parent = records[root];
    records[root] = records[child];
    records[child] = parent;
  }
}

void SortByPosition(CentralRecord* records, uint32_t count) {
  for (uint32_t i = count / 2; i-- > 0;) SiftDown(records, i, count);
  for (uint32_t end = count; end-- > 1;) {
    CentralRecord largest = records[0];
    records[0] = records[end];
    records[end] = largest;
    SiftDown(records, 0, end);
  }
}

// Reads the records from `start` on into the index; the reason they cannot be used, or
// kReasonNone. They must fill the directory exactly up to the end record.
int IndexRecords(uint32_t start, uint32_t bias) {
  CentralDirectory& central = extractionJob.central;
  uint32_t at = start;
  for (uint32_t i = 0; i < central.entryCount; ++i) {
    uint8_t fixed[kCentralBytes];
    if (at > central.endPosition - kCentralBytes || !ReadAt(at, fixed, kCentralBytes) ||
        Get32(fixed) != kCentralHeaderSignature)
      return kReasonDirectoryMismatch;
    uint32_t next = at + kCentralBytes + Get16(fixed + 28) + Get16(fixed + 30) + Get16(fixed + 32);
    if (next > central.endPosition) return kReasonDirectoryMismatch;
    CentralRecord& record = central.records[i];
    memcpy(&record.crc, fixed + 16, 12);
    record.method = Get16(fixed + 10);
    record.flags = Get16(fixed + 8);
    record.nameLength = Get16(fixed + 28);
    record.localPosition = Get32(fixed + 42) + bias;
    // Sizes kept elsewhere refuse their entry; a header kept elsewhere cannot be found at all.
    record.zip64 = record.compressedSize == kZip64Value || record.uncompressedSize == kZip64Value;
    if (Get32(fixed + 42) == kZip64Value) return kReasonZip64;
    ReadEntryName(record.nameLength);
    record.nameCrc = extractionJob.nameCrc;
    at = next;
  }
  if (at != central.endPosition) return kReasonDirectoryMismatch;
  SortByPosition(central.records, central.entryCount);
  return kReasonNone;
}

}  // namespace

void ReadCentralDirectory() {
  ExtractionJob& job = extractionJob;
  CentralDirectory& central = job.central;
  central = {kReasonNoCentralDirectory, false, 0, 0, nullptr};
  int32_t size = SeekPlatformFileToEnd(job.archiveFile);
  int32_t low = job.request->archiveOffset;
  uint8_t end[kEndBytes];
  if (size < 0 || low < 0 || size - low < static_cast<int32_t>(kEndBytes) ||
      !FindEndRecord(static_cast<uint32_t>(low), static_cast<uint32_t>(size), end))
    return;
  central.endFound = true;
  central.entryCount = Get16(end + 10);
  uint32_t directorySize = Get32(end + 12), recordedStart = Get32(end + 16);
  if (central.entryCount == 0xFFFF || directorySize == kZip64Value ||
      recordedStart == kZip64Value) {
    central.reason = kReasonZip64;
    return;
  }
  if (directorySize > central.endPosition) {
    central.reason = kReasonDirectoryMismatch;
    return;
  }
  if (central.entryCount) {
    central.records =
        static_cast<CentralRecord*>(AllocateMemory(central.entryCount * sizeof(CentralRecord)));
    if (!central.records) FailExtraction(MSG_NO_MEMORY);
  }
  uint32_t start = central.endPosition - directorySize;
  central.reason = IndexRecords(start, start - recordedStart);
}

const CentralRecord* FindCentralRecord(uint32_t position) {
  const CentralDirectory& central = extractionJob.central;
  if (central.reason != kReasonNone) return nullptr;
  uint32_t low = 0, high = central.entryCount;
  while (low < high) {
    uint32_t middle = low + (high - low) / 2;
    uint32_t found = central.records[middle].localPosition;
    if (found == position) return &central.records[middle];
    if (found < position)
      low = middle + 1;
    else
      high = middle;
  }
  return nullptr;
}

bool IsCountedEndRecord(uint32_t position) {
  const CentralDirectory& central = extractionJob.central;
  return !central.endFound || position == central.endPosition;
}

void ReleaseCentralDirectory() {
  CentralDirectory& central = extractionJob.central;
  if (central.records) FreeMemory(central.records);
  central.records = nullptr;
}
