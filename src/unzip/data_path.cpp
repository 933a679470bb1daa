#include "unzip/data_path.h"

#include <string.h>

#include "resources/catalogue.h"
#include "unzip/crc32.h"
#include "unzip/decrypt.h"
#include "unzip/inflate.h"
#include "unzip/job.h"
#include "unzip/walk.h"
#include "unzip/whole_entry.h"

bool dataPathFastPath = true;

namespace {

// Bytes a writer may leave after the end of a Deflate stream within the entry's data.
constexpr uint32_t kPaddingBytes = 4;

// How much of an encrypted block NextByte decrypts when it reaches the part not yet decrypted.
constexpr uint32_t kRevealBytes = 64;

// Message 1033 for an entry whose data turned out damaged: the CRC of what it gave so far.
[[noreturn]] void FailDamagedEntry(int reason) {
  ExtractionJob& job = extractionJob;
  FailExtraction(MSG_BAD_CRC, MessageName(), ~job.crcRegister, job.localHeader.crc, reason);
}

void EmitStoredByte(uint8_t byte) {
  ExtractionJob& job = extractionJob;
  *job.outputCursor++ = byte;
  if (++job.outputCount == kBlockSize) FlushOutput();
}

// A stored entry's bytes go to the output block unchanged.
void CopyStoredBytewise() {
  uint16_t byte;
  while (NextByte(&byte)) EmitStoredByte(static_cast<uint8_t>(byte));
}

// The same a stretch at a time: whatever is left of the input block, as far as the output block
// has room. Only the first byte of each block comes through NextByte, which reads the block.
// A whole block that meets an empty output block is the output block: it is written from where
// it was read, as it would have been written after the copy.
void CopyStoredFast() {
  ExtractionJob& job = extractionJob;
  for (;;) {
    InputSpan span = PeekInput();
    if (span.cursor == span.end) {
      uint16_t byte;
      if (!NextByte(&byte)) return;
      if (job.outputCount == 0 && job.inputCount == kBlockSize - 1) {
        uint32_t rest = job.inputCount;
        RevealInput(job.inputCursor + rest);
        job.outputCount = kBlockSize;
        FlushOutputFrom(job.inputCursor - 1);
        TakeInput(rest);
        continue;
      }
      EmitStoredByte(static_cast<uint8_t>(byte));
      continue;
    }
    uint32_t room = kBlockSize - job.outputCount;
    uint32_t run = static_cast<uint32_t>(span.end - span.cursor);
    if (run > room) run = room;
    RevealInput(span.cursor + run);
    memcpy(job.outputCursor, span.cursor, run);
    TakeInput(run);
    job.outputCursor += run;
    job.outputCount += run;
    if (job.outputCount == kBlockSize) FlushOutput();
  }
}

void CopyStoredEntry() {
  if (dataPathFastPath) {
    if (!kWholeEntryWindows || !CopyStoredWholeEntry()) CopyStoredFast();
  } else {
    CopyStoredBytewise();
  }
}

// Decrypts the input block from where its decrypted part ends up to `upTo`.
void DecryptInputUpTo(uint8_t* upTo) {
  ExtractionJob& job = extractionJob;
  if (upTo <= job.inputPlainEnd) return;
  DecryptBuffer(job.inputPlainEnd, static_cast<uint32_t>(upTo - job.inputPlainEnd));
  job.inputPlainEnd = upTo;
}

// The method has been checked: stored or deflated. Returns the decoder's result.
int DecodeByMethod() {
  AnnounceEntry();
  if (extractionJob.localHeader.method == kMethodStored) {
    CopyStoredEntry();
    return kInflateOk;
  }
  return InflateEntryData();
}

// How a deflated entry's compressed bytes were used. The decoder has taken them ahead of need
// and may have asked past their end; the whole bytes still in its bit buffer went unused.
int UnusedInputReason() {
  const ExtractionJob& job = extractionJob;
  uint32_t held = InflateBitsLeft() / 8;
  if (job.inputOverrun > held) return kReasonDataEndsEarly;
  uint32_t unused = job.compressedLeft + job.inputCount + held - job.inputOverrun;
  return unused > kPaddingBytes ? kReasonDataLeftOver : kReasonNone;
}

// The decoder's result, the compressed bytes it left, and the size produced: a damaged stream,
// or data of another length than declared, is an error for the entry whatever the request says
// about CRCs. Its file is still open, and the job's clean-up removes it.
void CheckDecodedEntry(int result) {
  ExtractionJob& job = extractionJob;
  if (result == kInflateNoMemory) FailExtraction(MSG_NO_MEMORY);
  // A stream that failed after asking past the entry's data ran out before its end.
  int reason = result == kInflateOk ? kReasonNone
               : job.inputOverrun   ? kReasonDataEndsEarly
                                    : kReasonDamagedData;
  if (reason == kReasonNone && job.localHeader.method == kMethodDeflated)
    reason = UnusedInputReason();
  if (reason == kReasonNone && job.producedBytes != job.localHeader.uncompressedSize)
    reason = kReasonSizeMismatch;
  if (reason != kReasonNone) FailDamagedEntry(reason);
}

}  // namespace

void DecodeEntry() {
  ExtractionJob& job = extractionJob;
  job.crcRegister = 0xFFFFFFFF;
  job.inputCount = 0;
  job.inputCursor = job.inputBuffer;
  job.inputPlainEnd = job.inputBuffer;
  job.inputOverrun = 0;
  job.outputCount = 0;
  job.outputCursor = job.outputBuffer;
  job.producedBytes = 0;
  if (!job.testOnly) CreateOutputFile();
  int result = DecodeByMethod();
  // The keys end as if the whole block had been decrypted when it was read, even where the
  // decoder stopped short of its end.
  DecryptInputUpTo(job.inputCursor + job.inputCount);
  if (job.outputCount > 0) FlushOutput();
  CheckDecodedEntry(result);
  StepOverDescriptor();
  // A reported CRC mismatch ends the job with the file still open: the clean-up removes it.
  uint32_t crc = ~job.crcRegister;
  if (crc != job.localHeader.crc && job.request->reportCrcErrors == 1)
    FailExtraction(MSG_BAD_CRC, MessageName(), crc, job.localHeader.crc);
  if (!job.testOnly) {
    SetOutputFileTime();
    ClosePlatformFile(job.outputFile);
  }
  job.outputFile = kNoFile;
}

int NextByte(uint16_t* target) {
  ExtractionJob& job = extractionJob;
  if (job.inputCount == 0) {
    if (RefillInput() == 0) {
      ++job.inputOverrun;
      return 0;
    }
  } else {
    --job.inputCount;
  }
  if (job.inputCursor == job.inputPlainEnd) {
    uint32_t reveal = job.inputCount + 1 < kRevealBytes ? job.inputCount + 1 : kRevealBytes;
    DecryptInputUpTo(job.inputCursor + reveal);
  }
  *target = *job.inputCursor++;
  return 8;
}

void FlushWindow(uint32_t count) {
  ExtractionJob& job = extractionJob;
  if (kWholeEntryWindows && job.decoderWindow.start != 0) return PassOnWholeEntry(count);
  const uint8_t* from = job.slideWindow;
  while (count > 0) {
    uint32_t room = kBlockSize - job.outputCount;
    uint32_t piece = count < room ? count : room;
    memcpy(job.outputCursor, from, piece);
    job.outputCursor += piece;
    job.outputCount += piece;
    from += piece;
    count -= piece;
    if (job.outputCount == kBlockSize) FlushOutput();
  }
}

OutputWindow DecoderWindow() {
  if (!kWholeEntryWindows) return {extractionJob.slideWindow, 0, kWindowSize};
  return extractionJob.decoderWindow;
}

InputSpan PeekInput() {
  const ExtractionJob& job = extractionJob;
  return {job.inputCursor, job.inputPlainEnd, job.inputCursor + job.inputCount};
}

const uint8_t* RevealInput(const uint8_t* upTo) {
  ExtractionJob& job = extractionJob;
  uint32_t wanted = static_cast<uint32_t>(upTo - job.inputCursor);
  DecryptInputUpTo(job.inputCursor + (wanted < job.inputCount ? wanted : job.inputCount));
  return job.inputPlainEnd;
}

// Only ksdist's fast loop takes the decryption over.
#if !defined(__OPTIMIZE_SIZE__)
InputDecryption TakeInputDecryption() {
  const ExtractionJob& job = extractionJob;
  bool readable = job.inputPlainEnd == job.inputCursor + job.inputCount;
  return {decryptionKeys, readable ? nullptr : job.inputPlainEnd};
}

void GiveBackInputDecryption(InputDecryption decryption) {
  decryptionKeys = decryption.keys;
  extractionJob.inputPlainEnd = decryption.readableEnd;
}
#endif

void TakeInput(uint32_t count) {
  extractionJob.inputCursor += count;
  extractionJob.inputCount -= count;
}

void FlushOutput() {
  FlushOutputFrom(extractionJob.outputBuffer);
}

// Output beyond the declared size ends the entry at once: a damaged entry never fills the disk.
void FlushOutputFrom(const uint8_t* bytes) {
  ExtractionJob& job = extractionJob;
  UpdateCrc(bytes, job.outputCount);
  job.producedBytes += job.outputCount;
  if (job.producedBytes < job.outputCount || job.producedBytes > job.localHeader.uncompressedSize)
    FailDamagedEntry(kReasonSizeMismatch);
  if (!job.testOnly) CheckWrite(WritePlatformFile(job.outputFile, bytes, job.outputCount));
  job.outputCount = 0;
  job.outputCursor = job.outputBuffer;
}

// The caller takes the block's first byte at once, so the count left behind is one lower than
// the count returned.
uint32_t RefillInput() {
  ExtractionJob& job = extractionJob;
  if (job.compressedLeft == 0) {
    job.inputCount = 0;
    return 0;
  }
  uint32_t wanted = job.compressedLeft < kBlockSize ? job.compressedLeft : kBlockSize;
  int32_t got = ReadPlatformFile(job.archiveFile, job.inputBuffer, wanted);
  if (got != static_cast<int32_t>(wanted)) FailRead();
  job.inputCount = wanted;
  ReportProgress(false, wanted);
  job.compressedLeft -= wanted;
  job.inputCursor = job.inputBuffer;
  job.inputPlainEnd = job.inputBuffer + wanted;
  if (job.encrypted) {
    if (dataPathFastPath) {
      job.inputPlainEnd = job.inputBuffer;
    } else {
      DecryptBuffer(job.inputBuffer, wanted);
    }
  }
  return job.inputCount--;
}

void CreateOutputFile() {
  ExtractionJob& job = extractionJob;
  job.outputFile =
      CreatePlatformFile(job.outputPath, job.outputRootLength, job.request->keepFolderNames != 0);
  if (job.outputFile == kNoFile) FailExtraction(MSG_CANNOT_CREATE_OUTPUT, job.outputPath);
}

void SetOutputFileTime() {
  ExtractionJob& job = extractionJob;
  SetPlatformFileTime(job.outputFile, job.localHeader.dosDate, job.localHeader.dosTime);
}

void CheckWrite(int32_t written) {
  ExtractionJob& job = extractionJob;
  if (written == -1 || static_cast<uint32_t>(written) != job.outputCount)
    FailExtraction(MSG_DISK_FULL, MessageName());
}

void FailRead() {
  const char* path = extractionJob.request->archivePath;
  FailExtraction(MSG_READ_ERROR, path ? path : "");
}

void UpdateCrc(const uint8_t* bytes, uint32_t count) {
  extractionJob.crcRegister = Crc32Update(extractionJob.crcRegister, bytes, count);
}

void ReportProgress(bool force, uint32_t count) {
  ExtractionJob& job = extractionJob;
  job.bytesRead += count;
  if (!force && job.bytesRead - job.lastReported < kProgressUnit) return;
  uint16_t units = static_cast<uint16_t>(job.bytesRead / kProgressUnit);
  if (SendProgress(job.request->progressWindow, units)) AbortExtraction(kAbortCancelled);
  if (PumpMessages()) AbortExtraction(kAbortCancelled);
  job.lastReported = job.bytesRead;
}

bool PumpMessages() {
  return PumpPlatformMessages(extractionJob.request->progressWindow);
}

void AnnounceEntry() {
  SendEntryName(extractionJob.request->progressWindow, extractionJob.shownName);
  ReportProgress(true, 0);
}
