// The extraction job: the one process-wide record that holds everything a running job owns
// (files, buffers, the current entry), the abort that ends a job from any depth, and the
// message routine every failure goes through.
#pragma once
#include <setjmp.h>
#include <stdint.h>

#include "unzip/builtin_password.h"
#include "unzip/extraction.h"
#include "unzip/inflate.h"
#include "unzip/platform.h"

// Archive data moves in blocks of this size through the two job buffers.
constexpr uint32_t kBlockSize = 0x7000;  // 28,672
constexpr uint32_t kBufferBytes = 28692;
constexpr uint32_t kSlideWindowBytes = 32776;
constexpr uint32_t kArchivePathChars = 288;
constexpr uint32_t kNameChars = 264;  // a stored name or destination path: 263 and the NUL
// A name or path in the file system's characters; on POSIX a code page 437 character becomes up
// to three UTF-8 bytes. A path still holds at most 263 characters.
constexpr uint32_t kOutputPathChars = 3 * kNameChars;

// The fixed part of a local file header, after its signature, as it stands in the archive: the
// walk reads it in one piece. Its CRC and two sizes are laid out as in a data descriptor.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "ZIP records are read as they stand");
#pragma pack(push, 1)
struct LocalHeader {
  uint16_t versionNeeded;
  uint16_t flags;
  uint16_t method;
  uint16_t dosTime;
  uint16_t dosDate;
  uint32_t crc;
  uint32_t compressedSize;
  uint32_t uncompressedSize;
  uint16_t nameLength;
  uint16_t extraLength;
};
#pragma pack(pop)
static_assert(sizeof(LocalHeader) == 26);

// Where the central directory lies, for entries whose sizes follow their data. It is looked for
// once per job, when the first such entry is met.
struct CentralDirectory {
  bool searched;
  int reason;       // kReasonNone when found, else why it cannot be used
  uint32_t start;   // file position of its first record
  uint32_t end;     // file position of the end record
  uint32_t bias;    // added to a recorded offset, gives the file position
  uint32_t cursor;  // where the next search begins: records mostly come in file order
};

struct ExtractionJob {
  bool jobBusy;
  ExtractionRequest* request;
  bool testOnly;
  char archivePath[kArchivePathChars];  // as opened: ".ZIP" added when it has no dot
  PlatformFile archiveFile = kNoFile;
  PlatformFile outputFile = kNoFile;
  jmp_buf trap;  // AbortExtraction resumes here, in RunExtractionJob's frame
  int32_t abortCode;
  uint8_t* slideWindow;
  OutputWindow decoderWindow;  // where the decoder writes: the slide window or a whole entry's
  uint8_t* wholeEntryBuffer;   // ksdist's buffer for whole entries, kept from entry to entry
  uint32_t wholeEntryCapacity;
  bool historyInWholeEntryBuffer;  // the window's content is in the 32 KB before its start
  uint8_t* inputBuffer;
  uint8_t* outputBuffer;
  uint32_t inputCount;  // bytes of the input block not yet delivered
  uint8_t* inputCursor;
  uint8_t* inputPlainEnd;  // the input block is decrypted up to here
  uint32_t outputCount;    // decoded bytes waiting in the output block
  uint8_t* outputCursor;
  uint32_t crcRegister;
  uint32_t bytesRead;                          // compressed bytes read during the whole job
  uint32_t lastReported;                       // bytesRead when the last progress message went out
  const char* jobPassword = kBuiltInPassword;  // the password in force, or null for none
  char* passwordCopy;                          // the job's own copy of the request's password
  LocalHeader localHeader;
  uint32_t compressedLeft;  // the current entry's data still to read
  bool encrypted;
  bool hasDataDescriptor;     // cleared once the descriptor has been stepped over
  bool nameTruncated;         // the stored name did not fit in entryName
  bool nameWritable;          // shownName spells the stored name exactly
  uint32_t inputOverrun;      // NextByte calls past the end of the entry's data
  uint32_t producedBytes;     // decoded bytes of the entry so far
  uint32_t outputRootLength;  // outputPath begins with this much of the destination folder
  CentralDirectory central;
  char entryName[kNameChars];         // the stored name as read
  char shownName[kOutputPathChars];   // the stored name as it is written and shown
  char outputPath[kOutputPathChars];  // the destination path as it is written
};

extern ExtractionJob extractionJob;

// Ends the running job at once; RunExtractionJob resumes with `code` (kAbortError or
// kAbortCancelled). Nothing between here and the job routine holds anything to release.
[[noreturn]] void AbortExtraction(int32_t code);

// The body of a job once its buffers exist: password, open, walk, close.
void ExtractArchive();

// Shows catalogue message `id` (its %s filled with `text`, its two numbers with `first` and
// `second`) in the error box and ends the job with kAbortError. A `reason` (RefusalReason)
// refuses the current entry: the caller is told which and why.
[[noreturn]] void FailExtraction(int id, const char* text = "", uint32_t first = 0,
                                 uint32_t second = 0, int reason = kReasonNone);
[[noreturn]] void RefuseEntry(int reason, int id, const char* text = "");

// Shows a fixed text in the error box of class `errorClass` and ends the job with kAbortError.
[[noreturn]] void FailWithText(int errorClass, const char* text, int reason = kReasonNone);

// The current entry's name in messages: its destination path, or in a test-only job its stored
// name, both as written.
const char* MessageName();

// Copies at most capacity - 1 characters of `source` and terminates the copy.
void CopyName(char* target, const char* source, uint32_t capacity);

// Fills a message template: %s takes `text`, every numeric field (%lx, %08lx, %lu, %d ...) the
// next of `numbers`, %% a percent sign. The result is cut to capacity - 1 characters.
void FormatExtractionMessage(char* target, uint32_t capacity, const char* format, const char* text,
                             const uint32_t* numbers, int numberCount);
