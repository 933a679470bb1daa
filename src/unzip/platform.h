// The extractor's whole contract with the system it runs on: simple file calls, memory, name
// conversion, the progress window and the error box. SETUP.EXE implements it with Win32 calls
// (win32/), ksdist and the native tests with POSIX calls and an observer object (posix/).
#pragma once
#include <stdint.h>

// A file handle of the simple file calls; kNoFile is none.
typedef intptr_t PlatformFile;
constexpr PlatformFile kNoFile = -1;

// The separator the extractor puts between the destination folder and the stored names, and
// whether file names are UTF-8 (a character may take several bytes; paths are limited in
// characters).
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr bool kFileNamesInUtf8 = false;
#else
constexpr char kPathSeparator = '/';
constexpr bool kFileNamesInUtf8 = true;
#endif

// The error class of each extractor message, as ShowPlatformError receives it.
constexpr int kErrorClassMethod = 7000;    // unknown compression method
constexpr int kErrorClassMemory = 7001;    // insufficient memory
constexpr int kErrorClassPassword = 7003;  // missing or wrong password
constexpr int kErrorClassOther = 7004;     // every other failure

// Why the engine refused an entry, for a caller that can say more than the message box:
// ksdist prints it as one more line; SETUP.EXE shows the catalogue message alone.
enum RefusalReason {
  kReasonNone,
  kReasonZip64,               // sizes or offsets kept in Zip64 records
  kReasonStrongEncryption,    // AES (method 99) or strong encryption (flag bit 6)
  kReasonMethod,              // neither stored nor deflated
  kReasonNoCentralDirectory,  // a streamed entry whose sizes cannot be found
  kReasonCentralMismatch,     // the central directory disagrees with the local header
  kReasonDirectoryMismatch,   // the central directory is damaged or lists entries not found
  kReasonDescriptorMismatch,  // the data descriptor disagrees with the central directory
  kReasonHeaderSizes,         // the header's sizes cannot belong to the entry's method
  kReasonDamagedData,         // the Deflate stream is invalid
  kReasonDataEndsEarly,       // the entry's data ends before its Deflate stream does
  kReasonDataLeftOver,        // compressed data follows the end of the Deflate stream
  kReasonSizeMismatch,        // the data is not as long as its declared size
  kReasonNameSpelling,        // the name cannot be written exactly in the file system's characters
  kReasonUnsafeName,          // the name would leave the destination folder or names a device
  kReasonPathTooLong,         // the destination path does not fit
};

// Files. Reads and writes return the count moved (-1 on a write error); reads are short only
// at the end of the file.
PlatformFile OpenArchiveFile(const char* path);  // read access, writers shut out
// Creates or truncates `path` for writing. Its first `rootLength` characters are the destination
// folder, taken as it is; below it nothing is followed through a symbolic link, and with
// `createFolders` the folders on the way are created.
PlatformFile CreatePlatformFile(const char* path, uint32_t rootLength, bool createFolders);
int32_t ReadPlatformFile(PlatformFile file, void* buffer, uint32_t count);
int32_t WritePlatformFile(PlatformFile file, const void* buffer, uint32_t count);
bool SeekPlatformFile(PlatformFile file, int32_t offset, bool fromStart);  // else from here
int32_t TellPlatformFile(PlatformFile file);                               // -1 on failure
int32_t SeekPlatformFileToEnd(PlatformFile file);  // returns the size, -1 on failure
void ClosePlatformFile(PlatformFile file);
void DeletePlatformFile(const char* path);
// Stamps the last-write time: the DOS date and time taken as local time.
void SetPlatformFileTime(PlatformFile file, uint16_t dosDate, uint16_t dosTime);

// Memory. The history window comes zero-filled from the global heap, the buffers from the heap.
void* AllocateWindowMemory(uint32_t size);
void FreeWindowMemory(void* block);
void* AllocateMemory(uint32_t size);
void FreeMemory(void* block);

// Names. A stored name is in the OEM character set, or in UTF-8 when the entry says so;
// `target` receives it in the characters the file system takes (at most capacity - 1 and a
// NUL). False when it has no exact spelling there or does not fit; `target` then holds a spelling
// to show. The archive path is shown in the OEM character set in the message that it cannot be
// opened.
bool StoredNameToFileName(const char* source, bool utf8, char* target, uint32_t capacity);
void AnsiToOemInPlace(char* text);
bool NamesEqualIgnoringCase(const char* a, const char* b);

// The progress window. A null window receives nothing and never cancels. `name` is the entry's
// whole name as written; the window shows its base name. NoteEntryRead tells of every entry
// the walk reads, extracted or not; the progress dialog has no use for it.
void SendEntryName(void* window, const char* name);
void NoteEntryRead(void* window, const char* name);
bool SendProgress(void* window, uint16_t units);  // true: the receiver asks to cancel
bool PumpPlatformMessages(void* window);          // dispatches waiting messages; true: cancel

// Messages: the catalogue text of `id`, and the error box owned by the progress window, with
// the id of the catalogue text it was made from (0 for a text of the extractor's own). An
// entry's refusal also names the entry (as written; empty when the archive as a whole is
// refused) and the reason.
const char* PlatformMessageText(int id);
void ShowPlatformError(void* window, int errorClass, int textId, const char* text, int reason,
                       const char* entry);
