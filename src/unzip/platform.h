// The extractor's whole contract with the system it runs on: simple file calls, memory, name
// conversion, the progress window and the error box. SETUP.EXE implements it with Win32 calls
// (win32/), ksdist and the native tests with POSIX calls and an observer object (posix/).
#pragma once
#include <stdint.h>

// A file handle of the simple file calls; kNoFile is none.
typedef intptr_t PlatformFile;
constexpr PlatformFile kNoFile = -1;

// The separator the extractor puts between the destination folder and the stored names.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The error class of each extractor message, as ShowPlatformError receives it.
constexpr int kErrorClassMethod = 7000;    // unknown compression method
constexpr int kErrorClassMemory = 7001;    // insufficient memory
constexpr int kErrorClassPassword = 7003;  // missing or wrong password
constexpr int kErrorClassOther = 7004;     // every other failure

// Files. Reads and writes return the count moved (-1 on a write error); reads are short only
// at the end of the file.
PlatformFile OpenArchiveFile(const char* path);     // read access, writers shut out
PlatformFile CreatePlatformFile(const char* path);  // created or truncated, write access
int32_t ReadPlatformFile(PlatformFile file, void* buffer, uint32_t count);
int32_t WritePlatformFile(PlatformFile file, const void* buffer, uint32_t count);
bool SeekPlatformFile(PlatformFile file, int32_t offset, bool fromStart);  // else from here
void ClosePlatformFile(PlatformFile file);
void DeletePlatformFile(const char* path);
// Stamps the last-write time: the DOS date and time taken as local time.
void SetPlatformFileTime(PlatformFile file, uint16_t dosDate, uint16_t dosTime);

// Memory. The history window comes zero-filled from the global heap, the buffers from the heap.
void* AllocateWindowMemory(uint32_t size);
void FreeWindowMemory(void* block);
void* AllocateMemory(uint32_t size);
void FreeMemory(void* block);

// Names. The stored name of an entry is in the OEM character set; `target` receives the
// characters the file system takes (at most capacity - 1 and a NUL). The archive path is shown
// in the OEM character set in the message that it cannot be opened.
void OemToAnsiName(const char* source, char* target, uint32_t capacity);
void AnsiToOemInPlace(char* text);
bool NamesEqualIgnoringCase(const char* a, const char* b);

// The progress window. A null window receives nothing and never cancels.
void SendEntryName(void* window, const char* name);
bool SendProgress(void* window, uint16_t units);  // true: the receiver asks to cancel
bool PumpPlatformMessages(void* window);          // dispatches waiting messages; true: cancel

// Messages: the catalogue text of `id`, and the error box owned by the progress window.
const char* PlatformMessageText(int id);
void ShowPlatformError(void* window, int errorClass, const char* text);
