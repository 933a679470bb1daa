#include "unzip/job.h"

#include <string.h>

#include "resources/catalogue.h"
#include "unzip/inflate.h"
#include "unzip/walk.h"
#include "unzip/whole_entry.h"

// On 64-bit Windows the runtime's longjmp unwinds every frame it leaves when setjmp recorded
// one; the job's frames hold nothing to unwind, so the trap is set without a frame and the
// jump is a plain restore of the registers, as it is everywhere else.
#if defined(_WIN64)
#define KS_SET_TRAP(trap) _setjmp((trap), nullptr)
#else
#define KS_SET_TRAP(trap) setjmp(trap)
#endif

ExtractionJob extractionJob;

namespace {

// Longest formatted message: 1033 with a whole path as written and two numbers, with room to
// spare.
constexpr uint32_t kMessageChars = kOutputPathChars + 100;

int ErrorClassOf(int id) {
  if (id == MSG_UNKNOWN_COMPRESSION) return kErrorClassMethod;
  if (id == MSG_NO_MEMORY) return kErrorClassMemory;
  return kErrorClassOther;
}

void BeginJob(ExtractionRequest* request) {
  ExtractionJob& job = extractionJob;
  job.jobBusy = true;
  job.archiveFile = kNoFile;
  job.outputFile = kNoFile;
  job.request = request;
  job.testOnly = request->destinationFolder == nullptr || request->testOnly;
  // A path without any dot, in its folders included, is taken to name a .ZIP file.
  CopyText(job.archivePath, request->archivePath ? request->archivePath : "",
           kArchivePathChars - 4);
  uint32_t length = 0;
  bool dotted = false;
  for (; job.archivePath[length]; ++length) dotted = dotted || job.archivePath[length] == '.';
  if (!dotted) memcpy(job.archivePath + length, ".ZIP", 5);
  job.bytesRead = 0;
  job.lastReported = 0;
  job.shownName[0] = '\0';
}

void AllocateBuffers() {
  ExtractionJob& job = extractionJob;
  job.slideWindow = static_cast<uint8_t*>(AllocateWindowMemory(kSlideWindowBytes));
  if (job.slideWindow) {
    job.inputBuffer = static_cast<uint8_t*>(AllocateMemory(kBufferBytes));
    if (job.inputBuffer) job.outputBuffer = static_cast<uint8_t*>(AllocateMemory(kBufferBytes));
  }
  if (!job.slideWindow || !job.inputBuffer || !job.outputBuffer) FailExtraction(MSG_NO_MEMORY);
  if (kWholeEntryWindows) job.decoderWindow = {job.slideWindow, 0, kWindowSize};
}

// A password given in the request is copied, so that the job does not depend on the caller's
// text; a given but absent password leaves the job without one.
void TakePasswordCopy() {
  ExtractionJob& job = extractionJob;
  const char* password = job.request->password;
  job.jobPassword = nullptr;
  if (!password) return;
  uint32_t size = static_cast<uint32_t>(strlen(password)) + 1;
  job.passwordCopy = static_cast<char*>(AllocateMemory(size));
  if (!job.passwordCopy) FailExtraction(MSG_NO_MEMORY);
  memcpy(job.passwordCopy, password, size);
  job.jobPassword = job.passwordCopy;
}

// Releases everything the job holds, whichever way it ended. An output file still open belongs
// to an entry that was cut short and is removed; files completed earlier stay.
void EndJob() {
  ExtractionJob& job = extractionJob;
  if (job.archiveFile != kNoFile) ClosePlatformFile(job.archiveFile);
  job.archiveFile = kNoFile;
  if (job.outputFile != kNoFile) {
    ClosePlatformFile(job.outputFile);
    DeletePlatformFile(job.outputPath);
  }
  job.outputFile = kNoFile;
  ReleaseCentralDirectory();
  // A job aborted inside a deflated entry leaves that block's decode tables behind.
  ReleaseInflateTables();
  if (kWholeEntryWindows) ReleaseWholeEntryBuffer();
  if (job.slideWindow) FreeWindowMemory(job.slideWindow);
  if (job.inputBuffer) FreeMemory(job.inputBuffer);
  if (job.outputBuffer) FreeMemory(job.outputBuffer);
  job.slideWindow = job.inputBuffer = job.outputBuffer = nullptr;
  // The next job starts again with the built-in password.
  if (job.passwordCopy) FreeMemory(job.passwordCopy);
  job.passwordCopy = nullptr;
  job.jobPassword = kBuiltInPassword;
  job.jobBusy = false;
}

}  // namespace

int RunExtractionJob(ExtractionRequest* request) {
  ExtractionJob& job = extractionJob;
  if (job.jobBusy) return 0;
  BeginJob(request);
  job.slideWindow = job.inputBuffer = job.outputBuffer = nullptr;
  if (KS_SET_TRAP(job.trap) == 0) {
    AllocateBuffers();
    ExtractArchive();
  } else {
    job.request->result = job.abortCode;
  }
  EndJob();
  return 1;
}

void AbortExtraction(int32_t code) {
  extractionJob.abortCode = code;
  longjmp(extractionJob.trap, 1);
}

void ExtractArchive() {
  ExtractionJob& job = extractionJob;
  if (job.request->passwordGiven) TakePasswordCopy();
  OpenArchive();
  WalkArchive();
  ClosePlatformFile(job.archiveFile);
  job.archiveFile = kNoFile;
}

void FailExtraction(int id, const char* text, uint32_t first, uint32_t second, int reason) {
  char message[kMessageChars];
  const uint32_t numbers[2] = {first, second};
  FormatExtractionMessage(message, sizeof message, PlatformMessageText(id), text, numbers, 2);
  FailWithText(ErrorClassOf(id), message, reason, id);
}

void RefuseEntry(int reason, int id, const char* text) {
  FailExtraction(id, text, 0, 0, reason);
}

void FailWithText(int errorClass, const char* text, int reason, int textId) {
  ExtractionJob& job = extractionJob;
  ShowPlatformError(job.request->progressWindow, errorClass, textId, text, reason,
                    reason != kReasonNone ? job.shownName : nullptr);
  AbortExtraction(kAbortError);
}

const char* MessageName() {
  return extractionJob.testOnly ? extractionJob.shownName : extractionJob.outputPath;
}

namespace {

struct TextSink {
  char* target;
  uint32_t capacity;
  uint32_t used;
  void Put(char c) {
    if (used + 1 < capacity) target[used++] = c;
  }
};

// Writes `value` in base 16 or 10, padded on the left to `width` with `pad`.
void PutNumber(TextSink& sink, uint32_t value, bool hex, int width, char pad) {
  char digits[12];
  int count = 0;
  do {
    uint32_t digit = hex ? value & 15 : value % 10;
    digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    value = hex ? value >> 4 : value / 10;
  } while (value);
  for (; width > count; --width) sink.Put(pad);
  while (count) sink.Put(digits[--count]);
}

}  // namespace

void FormatExtractionMessage(char* target, uint32_t capacity, const char* format, const char* text,
                             const uint32_t* numbers, int numberCount) {
  TextSink sink = {target, capacity, 0};
  int next = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      sink.Put(*p);
      continue;
    }
    char pad = ' ';
    if (p[1] == '0') pad = *++p;
    int width = 0;
    while (p[1] >= '0' && p[1] <= '9') width = width * 10 + (*++p - '0');
    while (p[1] == 'l') ++p;
    char kind = *++p;
    if (kind == 's') {
      for (const char* t = text; *t; ++t) sink.Put(*t);
    } else if (kind == 'x' || kind == 'u' || kind == 'd') {
      PutNumber(sink, next < numberCount ? numbers[next] : 0, kind == 'x', width, pad);
      ++next;
    } else if (kind == '%') {
      sink.Put('%');
    } else {
      break;  // a lone % at the end, or a field this routine does not know
    }
  }
  if (capacity) target[sink.used] = '\0';
}
