#include "unzip/whole_entry.h"

#include <stdlib.h>
#include <string.h>

#include "unzip/data_path.h"
#include "unzip/decrypt.h"
#include "unzip/inflate.h"
#include "unzip/job.h"

namespace {

// A whole-entry buffer is used for entries of up to this many bytes, which the compressed
// size can produce (Deflate gives at most 258 bytes for two bits): a header that declares more
// costs no memory, and such an entry goes through the window.
constexpr uint32_t kWholeEntryLimit = 256u << 20;
constexpr uint32_t kMostBytesPerInputByte = 1032;

constexpr uint32_t kHistoryBytes = kWindowSize;
constexpr uint32_t kSlackBytes = kSlideWindowBytes - kWindowSize;

// A stored entry moves through the buffer in pieces of this size, a whole number of input blocks
// that stays in the processor's cache from the read through the CRC to the write.
constexpr uint32_t kStoredChunk = 8 * kBlockSize;

uint32_t RoundUpToWindow(uint32_t count) {
  return (count + kWindowSize - 1) & ~(kWindowSize - 1);
}

// How much a whole-entry buffer takes in before it is full. The window's output goes to the file
// in output blocks, and an entry that gives more than declared fails at the first block that
// ends beyond its size, when the window that completes that block is passed on: the buffer
// holds the entry's output up to that window's end.
uint32_t WholeEntryRoom(uint32_t declared) {
  return RoundUpToWindow((declared / kBlockSize + 1) * kBlockSize);
}

// The window's content, as a distance back beyond an entry's start reads it, lives in the 32 KB
// before the whole-entry buffer's start while whole entries are decoded one after the other,
// and goes back to the job's window when an entry goes through it.
void MoveHistoryToWindow() {
  ExtractionJob& job = extractionJob;
  if (!job.historyInWholeEntryBuffer) return;
  memcpy(job.slideWindow, job.wholeEntryBuffer, kHistoryBytes);
  job.historyInWholeEntryBuffer = false;
}

// How much of the whole-entry buffer has been written since it was allocated. The decoder looks
// at bytes just ahead of those it writes: a page it met that way first would be handed out twice
// by the system, once to be read and once more to be written, so each part is written once
// before the decoder gets there; the part that no entry has needed yet is left alone.
uint32_t writtenBytes;

// Makes the whole-entry buffer hold `room` bytes after the history, and the history the window's
// content. A larger buffer keeps what the smaller held: the history stays where it is, and the
// pages already in use are taken over rather than touched afresh.
bool HaveWholeEntryBuffer(uint32_t room) {
  ExtractionJob& job = extractionJob;
  uint32_t size = kHistoryBytes + room + kSlackBytes;
  if (size > job.wholeEntryCapacity) {
    if (size / 2 < job.wholeEntryCapacity) size = 2 * job.wholeEntryCapacity;  // fewer moves
    uint8_t* larger = static_cast<uint8_t*>(realloc(job.wholeEntryBuffer, size));
    if (larger == nullptr) return false;
    job.wholeEntryBuffer = larger;
    job.wholeEntryCapacity = size;
  }
  uint32_t used = kHistoryBytes + room + kSlackBytes;
  if (used > writtenBytes) {
    memset(job.wholeEntryBuffer + writtenBytes, 0, used - writtenBytes);
    writtenBytes = used;
  }
  if (!job.historyInWholeEntryBuffer) memcpy(job.wholeEntryBuffer, job.slideWindow, kHistoryBytes);
  job.historyInWholeEntryBuffer = true;
  return true;
}

bool UseWholeEntryBuffer(uint32_t declared) {
  return kWholeEntryWindows && dataPathFastPath && declared <= kWholeEntryLimit;
}

bool TakeWholeEntryBuffer() {
  ExtractionJob& job = extractionJob;
  uint32_t declared = job.localHeader.uncompressedSize;
  if (!UseWholeEntryBuffer(declared) ||
      declared / kMostBytesPerInputByte > job.localHeader.compressedSize)
    return false;
  uint32_t room = WholeEntryRoom(declared);
  if (!HaveWholeEntryBuffer(room)) return false;
  job.decoderWindow = {job.wholeEntryBuffer, kHistoryBytes, kHistoryBytes + room};
  return true;
}

// Passes `count` bytes of the buffer from `from` on as one output block would be: CRC, size
// check, write.
void PassOn(const uint8_t* from, uint32_t count) {
  extractionJob.outputCount = count;
  FlushOutputFrom(from);
}

// Passes on what the window would have passed on of `produced` bytes: everything when the
// stream ended well, only the windows completed when the decoder failed. The output blocks up
// to the declared size go out in one piece; past it the first block that reaches beyond, or
// the rest, ends the entry with the CRC of everything up to its end.
void PassOnProduced(uint32_t produced, bool ended) {
  const ExtractionJob& job = extractionJob;
  const uint8_t* output = job.wholeEntryBuffer + kHistoryBytes;
  uint32_t shown = ended ? produced : produced & ~(kWindowSize - 1);
  uint32_t declared = job.localHeader.uncompressedSize;
  uint32_t sound = shown <= declared ? shown : declared / kBlockSize * kBlockSize;
  if (sound > 0) PassOn(output, sound);
  if (shown > sound) {
    uint32_t blockEnd = sound + kBlockSize;
    PassOn(output + sound, (shown < blockEnd ? shown : blockEnd) - sound);
  }
}

// The history as the 32 KB window would hold it after the entry's `produced` bytes.
void KeepHistory(uint32_t produced) {
  uint8_t* history = extractionJob.wholeEntryBuffer;
  const uint8_t* output = history + kHistoryBytes;
  if (produced < kWindowSize) {
    memcpy(history, output, produced);
    return;
  }
  uint32_t split = produced & (kWindowSize - 1);  // where the last window's oldest byte sits
  memcpy(history + split, output + produced - kWindowSize, kWindowSize - split);
  memcpy(history, output + produced - split, split);
}

}  // namespace

int InflateEntryData() {
  if (!kWholeEntryWindows) return InflateStream();
  ExtractionJob& job = extractionJob;
  job.decoderWindow = {job.slideWindow, 0, kWindowSize};
  if (!TakeWholeEntryBuffer()) {
    MoveHistoryToWindow();
    return InflateStream();
  }
  int result = InflateStream();
  uint32_t produced = InflateWindowPosition() - kHistoryBytes;
  job.decoderWindow = {job.slideWindow, 0, kWindowSize};
  PassOnProduced(produced, result == kInflateOk);
  if (result == kInflateOk) KeepHistory(produced);
  return result;
}

bool CopyStoredWholeEntry() {
  ExtractionJob& job = extractionJob;
  uint32_t size = job.compressedLeft;
  uint32_t chunk = size < kStoredChunk ? size : kStoredChunk;
  if (size == 0 || !UseWholeEntryBuffer(size) || !HaveWholeEntryBuffer(chunk)) return false;
  uint8_t* data = job.wholeEntryBuffer + kHistoryBytes;
  while (job.compressedLeft > 0) {
    uint32_t piece = job.compressedLeft < kStoredChunk ? job.compressedLeft : kStoredChunk;
    uint32_t got = uint32_t(ReadPlatformFile(job.archiveFile, data, piece));
    for (uint32_t done = 0; done < piece;) {
      uint32_t block = piece - done < kBlockSize ? piece - done : kBlockSize;
      if (got - done < block || got > piece) FailRead();
      ReportProgress(false, block);
      job.compressedLeft -= block;
      done += block;
    }
    if (job.encrypted) DecryptBuffer(data, piece);
    PassOn(data, piece);
  }
  return true;
}

void PassOnWholeEntry(uint32_t count) {
  // Only a full buffer is passed on before the stream ends, and it always ends the entry.
  if (count == extractionJob.decoderWindow.end) PassOnProduced(count - kHistoryBytes, false);
}

void ReleaseWholeEntryBuffer() {
  if (!kWholeEntryWindows) return;
  ExtractionJob& job = extractionJob;
  free(job.wholeEntryBuffer);
  writtenBytes = 0;
  job.wholeEntryBuffer = nullptr;
  job.wholeEntryCapacity = 0;
  job.historyInWholeEntryBuffer = false;
}
