#include "unzip/posix/posix_platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "resources/catalogue.h"
#include "unzip/platform.h"
#include "unzip/utf8.h"
#include "unzip/walk.h"

namespace {

int allocationsBeforeFailure = -1;

ExtractionObserver* ObserverOf(void* window) {
  return static_cast<ExtractionObserver*>(window);
}

// Code page 437's upper half as Unicode code points.
const uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  //
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  //
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  //
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 0xB0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  //
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  //
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 0xD0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  //
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 0xE0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  //
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 0xF0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  //
};

// Encodes one character as UTF-8 into `out`; returns its length (1 to 3).
uint32_t EncodeUtf8(uint16_t code, char* out) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | code >> 6);
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | code >> 12);
  out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (code & 0x3F));
  return 3;
}

// Decodes one UTF-8 character of up to three bytes (all that code page 437 needs) at `p`;
// returns its length, or 0 when the bytes are not such a character.
uint32_t DecodeUtf8(const unsigned char* p, uint16_t& code) {
  if (p[0] < 0x80) {
    code = p[0];
    return 1;
  }
  if ((p[0] & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
    code = static_cast<uint16_t>((p[0] & 0x1F) << 6 | (p[1] & 0x3F));
    return code >= 0x80 ? 2 : 0;
  }
  if ((p[0] & 0xF0) == 0xE0 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
    code = static_cast<uint16_t>((p[0] & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
    return code >= 0x800 ? 3 : 0;
  }
  return 0;
}

bool AllocationAllowed() {
  if (allocationsBeforeFailure < 0) return true;
  return allocationsBeforeFailure-- != 0;
}

}  // namespace

void AppendName(NameListNode** list, const char* name) {
  size_t length = strlen(name);
  NameListNode* node = static_cast<NameListNode*>(malloc(sizeof(NameListNode) + length));
  node->next = nullptr;
  memcpy(node->name, name, length + 1);
  while (*list) list = &(*list)->next;
  *list = node;
}

void FreeNameList(NameListNode* list) {
  while (list) {
    NameListNode* next = list->next;
    free(list);
    list = next;
  }
}

void Cp437ToUtf8(const char* source, char* target, uint32_t capacity) {
  uint32_t used = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(source); *p; ++p) {
    char encoded[3];
    uint32_t length = EncodeUtf8(*p < 0x80 ? *p : kCp437High[*p - 0x80], encoded);
    if (used + length >= capacity) break;
    memcpy(target + used, encoded, length);
    used += length;
  }
  if (capacity) target[used] = '\0';
}

bool Utf8ToCp437(const char* source, char* target, uint32_t capacity) {
  if (capacity == 0) return false;
  uint32_t used = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(source); *p;) {
    uint16_t code;
    uint32_t length = DecodeUtf8(p, code);
    if (!length || used + 1 >= capacity) return false;
    int byte = code < 0x80 ? code : -1;
    for (int i = 0; i < 128 && byte < 0; ++i)
      if (kCp437High[i] == code) byte = 0x80 + i;
    if (byte < 0) return false;
    target[used++] = static_cast<char>(byte);
    p += length;
  }
  target[used] = '\0';
  return true;
}

void FailAllocationAfter(int successes) {
  allocationsBeforeFailure = successes;
}

namespace {

// The archive is read through a small buffer of its own: the walk takes its records a few bytes
// at a time (a signature, a fixed part, a name, a seek over an empty extra field), and a system
// call for each costs more than the copy. A read as large as the buffer goes straight to the
// caller. `start` is the file position of the buffer's first byte; the file itself stands at
// start + length, and the reader's position is start + used.
struct ArchiveReader {
  int file = -1;
  off_t start;
  uint32_t used, length;
  uint8_t bytes[8192];
};
ArchiveReader archiveReader;

bool IsArchive(PlatformFile file) {
  return archiveReader.file >= 0 && archiveReader.file == static_cast<int>(file);
}

// Empties the buffer, the reader standing at `position`.
void EmptyReaderAt(off_t position) {
  archiveReader.start = position;
  archiveReader.used = archiveReader.length = 0;
}

// One read, repeated only when a signal interrupts it. From a pipe it gives what has come so far.
ssize_t ReadOnce(int file, void* buffer, uint32_t count) {
  ssize_t got;
  do got = read(file, buffer, count);
  while (got < 0 && errno == EINTR);
  return got;
}

// Reads what the file gives, up to `count` bytes.
uint32_t ReadFully(int file, void* buffer, uint32_t count) {
  uint32_t done = 0;
  for (ssize_t got; done < count; done += static_cast<uint32_t>(got))
    if ((got = ReadOnce(file, static_cast<char*>(buffer) + done, count - done)) <= 0) break;
  return done;
}

uint32_t ReadBuffered(void* buffer, uint32_t count) {
  ArchiveReader& r = archiveReader;
  uint8_t* target = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    if (r.used == r.length) {
      EmptyReaderAt(r.start + r.length);
      if (count - done >= sizeof r.bytes) {
        uint32_t got = ReadFully(r.file, target + done, count - done);
        r.start += got;
        return done + got;
      }
      // One read, not a full buffer: from a pipe the rest may not have come yet.
      ssize_t got = ReadOnce(r.file, r.bytes, sizeof r.bytes);
      if (got <= 0) break;
      r.length = static_cast<uint32_t>(got);
    }
    uint32_t piece = r.length - r.used < count - done ? r.length - r.used : count - done;
    memcpy(target + done, r.bytes + r.used, piece);
    r.used += piece;
    done += piece;
  }
  return done;
}

// Within the buffer a seek only moves the reader; elsewhere the file moves and the buffer empties.
// A file that cannot seek (a pipe) goes forward by reading and dropping what lies before the
// target; it cannot go back beyond the buffer, nor forward beyond its end.
bool SeekBuffered(off_t target) {
  ArchiveReader& r = archiveReader;
  for (;;) {
    off_t end = r.start + static_cast<off_t>(r.length);
    if (target >= r.start && target <= end) {
      r.used = static_cast<uint32_t>(target - r.start);
      return true;
    }
    if (target < 0) return false;
    if (lseek(r.file, target, SEEK_SET) >= 0) {
      EmptyReaderAt(target);
      return true;
    }
    ssize_t got;
    if (errno != ESPIPE || target < end || (got = ReadOnce(r.file, r.bytes, sizeof r.bytes)) <= 0)
      return false;
    EmptyReaderAt(end);
    r.length = static_cast<uint32_t>(got);
  }
}

}  // namespace

// The seam.

PlatformFile OpenArchiveFile(const char* path) {
  int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return kNoFile;
  struct stat status;
  if (fstat(file, &status) != 0 || S_ISDIR(status.st_mode)) {
    close(file);
    return kNoFile;
  }
  archiveReader.file = file;
  EmptyReaderAt(0);
  return file;
}

namespace {

// The folder the last file went into, kept open for the job: entries mostly come folder by
// folder, and walking the path again costs a few system calls for each folder on the way.
// `path` is the file's path up to its last slash, and the destination's length in it.
struct LastFolder {
  int folder = -1;
  uint32_t rootLength;
  size_t length;
  char path[PATH_MAX];
};
LastFolder lastFolder;

// The destination folder, kept open for the job, from which the kernel resolves a file's
// folders in the same call that creates the file, refusing every symbolic link and every way
// out of the folder. `path` is its path as the job gives it.
struct RootFolder {
  int folder = -1;
  uint32_t length;
  char path[PATH_MAX];
};
RootFolder rootFolder;
bool resolvesBeneath = true;  // false once the kernel turned such a call down as unknown

void ForgetLastFolder() {
  if (lastFolder.folder >= 0) close(lastFolder.folder);
  lastFolder.folder = -1;
}

void ForgetFolders() {
  ForgetLastFolder();
  if (rootFolder.folder >= 0) close(rootFolder.folder);
  rootFolder.folder = -1;
}

// The destination folder as kept open for the job when `path` begins with it, else -1.
int KeptRoot(const char* path, uint32_t rootLength) {
  const RootFolder& r = rootFolder;
  bool same = r.folder >= 0 && r.length == rootLength && memcmp(r.path, path, rootLength) == 0;
  return same ? r.folder : -1;
}

// Opens the folder `name` in `folder` without following a link, creating it first when asked
// and missing.
int OpenSubfolder(int folder, const char* name, bool create) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int next = openat(folder, *name ? name : ".", kFlags);
  if (next >= 0 || errno != ENOENT || !create || !*name) return next;
  mkdirat(folder, name, 0777);
  return openat(folder, name, kFlags);
}

// Copies the folder name at `component`, up to the next slash (which the path has), into `name`;
// returns that slash.
const char* TakeComponent(const char* component, char (&name)[PATH_MAX]) {
  const char* slash = strchr(component, '/');
  size_t length = static_cast<size_t>(slash - component);
  memcpy(name, component, length);
  name[length] = '\0';
  return slash;
}

// Walks the folders of `path` below its first `rootLength` characters, from the destination
// folder kept open where it is; returns the last one open, or -1.
int OpenFolders(const char* path, uint32_t rootLength, const char* last, bool createFolders) {
  char root[PATH_MAX];
  if (rootLength >= sizeof root) return -1;
  memcpy(root, path, rootLength);
  root[rootLength] = '\0';
  const int kept = KeptRoot(path, rootLength);
  int folder = kept >= 0 ? kept : open(rootLength ? root : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (const char* component = path + rootLength; folder >= 0 && component <= last;) {
    char name[PATH_MAX];
    const char* slash = TakeComponent(component, name);
    int next = OpenSubfolder(folder, name, createFolders);
    if (folder != kept) close(folder);
    folder = next;
    component = slash + 1;
  }
  return folder;
}

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;

// Creates the file `below` the destination folder (the first `rootLength` characters of `path`)
// in one call, where all its folders exist and none is a symbolic link; -1 otherwise, and the
// walk one folder at a time decides.
int CreateBeneathRoot(const char* path, uint32_t rootLength, const char* below) {
  RootFolder& r = rootFolder;
  if (!resolvesBeneath || rootLength >= sizeof r.path) return -1;
  if (KeptRoot(path, rootLength) < 0) {
    if (r.folder >= 0) close(r.folder);
    memcpy(r.path, path, rootLength);
    r.path[rootLength] = '\0';
    r.length = rootLength;
    r.folder = open(rootLength ? r.path : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (r.folder < 0) return -1;
  }
  struct open_how how = {};
  how.flags = kCreateFlags;
  how.mode = 0666;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  int file = static_cast<int>(syscall(SYS_openat2, r.folder, below, &how, sizeof how));
  if (file < 0 && (errno == ENOSYS || errno == EPERM || errno == E2BIG)) resolvesBeneath = false;
  return file;
}

// Opens the folder that the first `length` characters of `below` name beneath the destination
// folder (none: the destination folder itself), as a handle to create in, refusing every link
// and every way out; -1 with errno set otherwise.
int OpenBeneathRoot(const char* below, size_t length) {
  if (length == 0) return dup(rootFolder.folder);
  char name[PATH_MAX];
  if (length >= sizeof name) return -1;
  memcpy(name, below, length);
  name[length] = '\0';
  struct open_how how = {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  return static_cast<int>(syscall(SYS_openat2, rootFolder.folder, name, &how, sizeof how));
}

// Creates the folders of `below` (up to its last slash, at `last`) that are missing beneath the
// destination folder, the last of them at least: the deepest one there is opened with one call,
// and each missing one below it is made and, where another follows, opened without following a
// link. False when a folder on the way is anything but a folder or cannot be made; the walk one
// folder at a time then decides.
bool CreateFoldersBeneathRoot(const char* below, const char* last) {
  // The end of the deepest folder that may exist, going up one folder at a time: the file's own
  // folder was found missing.
  const char* end = last;
  auto goUp = [&end, below] {
    while (end > below && end[-1] != '/') --end;
    if (end > below) --end;
  };
  goUp();
  int folder;
  while ((folder = OpenBeneathRoot(below, static_cast<size_t>(end - below))) < 0) {
    if (errno != ENOENT || end == below) return false;
    goUp();
  }
  for (const char* component = end == below ? below : end + 1; component <= last;) {
    char name[PATH_MAX];
    const char* slash = TakeComponent(component, name);
    size_t length = static_cast<size_t>(slash - component);
    int next = -1;
    if (length > 0 && (mkdirat(folder, name, 0777) == 0 || errno == EEXIST) && slash != last)
      next = openat(folder, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(folder);
    if (slash == last) return length > 0;
    if (next < 0) return false;
    folder = next;
    component = slash + 1;
  }
  return false;
}

}  // namespace

// Below the destination folder the path is walked one folder at a time, each opened without
// following a symbolic link (and created first when asked), and the file is created in the last
// one, also without following a link: the entry is written where the path shown says, whatever
// the folders below the destination hold or come to hold meanwhile. The next file for the same
// folder in the job goes into the folder so opened. Where the kernel can resolve the path with
// the same refusals itself, the file is created in one call from the destination folder, after
// the folders it found missing have been made from the deepest one there.
PlatformFile CreatePlatformFile(const char* path, uint32_t rootLength, bool createFolders) {
  const char* last = strrchr(path + rootLength, '/');
  // A name right in the destination folder: the same as opening that folder first, in one call.
  if (!last) {
    int file = open(path, kCreateFlags, 0666);
    return file < 0 ? kNoFile : file;
  }
  int beneath = CreateBeneathRoot(path, rootLength, path + rootLength);
  if (beneath < 0 && errno == ENOENT && createFolders && KeptRoot(path, rootLength) >= 0 &&
      CreateFoldersBeneathRoot(path + rootLength, last))
    beneath = CreateBeneathRoot(path, rootLength, path + rootLength);
  if (beneath >= 0) return beneath;
  size_t length = static_cast<size_t>(last - path);
  LastFolder& f = lastFolder;
  if (f.folder < 0 || f.rootLength != rootLength || f.length != length ||
      memcmp(f.path, path, length) != 0) {
    ForgetLastFolder();
    if (length >= sizeof f.path) return kNoFile;
    f.folder = OpenFolders(path, rootLength, last, createFolders);
    if (f.folder < 0) return kNoFile;
    f.rootLength = rootLength;
    f.length = length;
    memcpy(f.path, path, length);
  }
  int file = openat(f.folder, last + 1, kCreateFlags, 0666);
  return file < 0 ? kNoFile : file;
}

int32_t ReadPlatformFile(PlatformFile file, void* buffer, uint32_t count) {
  if (IsArchive(file)) return static_cast<int32_t>(ReadBuffered(buffer, count));
  return static_cast<int32_t>(ReadFully(static_cast<int>(file), buffer, count));
}

int32_t WritePlatformFile(PlatformFile file, const void* buffer, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    ssize_t put =
        write(static_cast<int>(file), static_cast<const char*>(buffer) + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && done == 0) return -1;
    if (put <= 0) break;
    done += static_cast<uint32_t>(put);
  }
  return static_cast<int32_t>(done);
}

bool SeekPlatformFile(PlatformFile file, int32_t offset, bool fromStart) {
  if (IsArchive(file))
    return SeekBuffered(fromStart ? offset : archiveReader.start + archiveReader.used + offset);
  return lseek(static_cast<int>(file), offset, fromStart ? SEEK_SET : SEEK_CUR) >= 0;
}

namespace {

// Positions beyond what a signed 32-bit offset holds are failures, as for the Windows calls.
int32_t Position(off_t position) {
  return position < 0 || position > 0x7FFFFFFF ? -1 : static_cast<int32_t>(position);
}

}  // namespace

int32_t TellPlatformFile(PlatformFile file) {
  if (IsArchive(file)) return Position(archiveReader.start + archiveReader.used);
  return Position(lseek(static_cast<int>(file), 0, SEEK_CUR));
}

int32_t SeekPlatformFileToEnd(PlatformFile file) {
  off_t end = lseek(static_cast<int>(file), 0, SEEK_END);
  if (IsArchive(file) && end >= 0) EmptyReaderAt(end);
  return Position(end);
}

void ClosePlatformFile(PlatformFile file) {
  if (IsArchive(file)) {
    archiveReader.file = -1;
    ForgetFolders();  // the job ends: its folders may go
  }
  close(static_cast<int>(file));
}

void DeletePlatformFile(const char* path) {
  unlink(path);
}

// A stamp that names no real day is left unapplied, as Windows refuses to convert it.
void SetPlatformFileTime(PlatformFile file, uint16_t dosDate, uint16_t dosTime) {
  struct tm local = {};
  local.tm_year = 80 + (dosDate >> 9);
  local.tm_mon = ((dosDate >> 5) & 15) - 1;
  local.tm_mday = dosDate & 31;
  local.tm_hour = dosTime >> 11;
  local.tm_min = (dosTime >> 5) & 63;
  local.tm_sec = (dosTime & 31) * 2;
  local.tm_isdst = -1;
  if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday == 0 || local.tm_hour > 23 ||
      local.tm_min > 59 || local.tm_sec > 59)
    return;
  time_t stamp = mktime(&local);
  if (stamp == static_cast<time_t>(-1)) return;
  // The last-access time stays as it is, to the nanosecond.
  struct timespec times[2] = {{0, UTIME_OMIT}, {stamp, 0}};
  futimens(static_cast<int>(file), times);
}

void* AllocateWindowMemory(uint32_t size) {
  return AllocationAllowed() ? calloc(1, size) : nullptr;
}

void FreeWindowMemory(void* block) {
  free(block);
}

void* AllocateMemory(uint32_t size) {
  return AllocationAllowed() ? malloc(size) : nullptr;
}

void FreeMemory(void* block) {
  free(block);
}

// A UTF-8 name is written as it is, once it has been found well-formed; any other name is
// read in code page 437.
bool StoredNameToFileName(const char* source, bool utf8, char* target, uint32_t capacity) {
  size_t length = strlen(source);
  if (utf8) {
    const char* p = source;
    while (*p && DecodeUtf8Character(p) != kNotUtf8) {
    }
    if (!*p && length < capacity) {
      memcpy(target, source, length + 1);
      return true;
    }
  }
  Cp437ToUtf8(source, target, capacity);
  return !utf8 && 3 * length < capacity;
}

// The archive path is already in the file system's characters.
void AnsiToOemInPlace(char*) {}

bool NamesEqualIgnoringCase(const char* a, const char* b) {
  return strcasecmp(a, b) == 0;
}

void SendEntryName(void* window, const char* name) {
  if (window) ObserverOf(window)->OnEntryName(BaseName(name));
}

void NoteEntryRead(void* window, const char* name) {
  if (window) ObserverOf(window)->OnEntryRead(name);
}

bool SendProgress(void* window, uint16_t units) {
  return window && ObserverOf(window)->OnProgress(units);
}

bool PumpPlatformMessages(void* window) {
  return window && ObserverOf(window)->OnPump();
}

const char* PlatformMessageText(int id) {
  switch (id) {
    case MSG_CANNOT_CREATE_OUTPUT:
      return MSG_TEXT_1030;
    case MSG_CANNOT_OPEN_INPUT:
      return MSG_TEXT_1031;
    case MSG_UNKNOWN_COMPRESSION:
      return MSG_TEXT_1032;
    case MSG_BAD_CRC:
      return MSG_TEXT_1033;
    case MSG_INVALID_HEADER:
      return MSG_TEXT_1034;
    case MSG_NO_MEMORY:
      return MSG_TEXT_1035;
    case MSG_DISK_FULL:
      return MSG_TEXT_1036;
    case MSG_READ_ERROR:
      return MSG_TEXT_1037;
    default:
      return "";
  }
}

namespace {

// The words for a RefusalReason (platform.h), as ksdist prints them after the message.
const char* RefusalReasonText(int reason) {
  switch (reason) {
    case kReasonZip64:
      return "its sizes or offsets are kept in Zip64 records, which SETUP.EXE cannot read";
    case kReasonStrongEncryption:
      return "it is encrypted with AES or strong encryption; SETUP.EXE knows the traditional "
             "ZIP encryption only";
    case kReasonMethod:
      return "its compression method is neither stored (0) nor deflated (8)";
    case kReasonNoCentralDirectory:
      return "its CRC and sizes follow its data, and no central directory record of it can be "
             "found";
    case kReasonCentralMismatch:
      return "its central directory record disagrees with its local header";
    case kReasonDirectoryMismatch:
      return "the archive's central directory is damaged or lists entries that the archive "
             "does not hold";
    case kReasonDescriptorMismatch:
      return "the data descriptor after its data disagrees with its central directory record";
    case kReasonHeaderSizes:
      return "its compressed size does not fit its method and encryption";
    case kReasonDamagedData:
      return "its Deflate data is damaged";
    case kReasonDataEndsEarly:
      return "its Deflate data ends before the stream does";
    case kReasonDataLeftOver:
      return "compressed data is left over after the end of its Deflate stream";
    case kReasonSizeMismatch:
      return "its data does not have the size that its header declares";
    case kReasonNameSpelling:
      return "its name cannot be written exactly (flagged UTF-8 but not well-formed)";
    case kReasonUnsafeName:
      return "its name would leave the destination folder or names a device";
    case kReasonPathTooLong:
      return "its path would be longer than 263 characters";
    default:
      return "";
  }
}

}  // namespace

// Without an observer the text goes to the standard error stream, one line.
void ShowPlatformError(void* window, int errorClass, int, const char* text, int reason,
                       const char* entry) {
  if (!window) {
    fprintf(stderr, "%s\n", text);
    return;
  }
  ObserverOf(window)->OnError(errorClass, text);
  if (reason != kReasonNone) ObserverOf(window)->OnRefusal(entry, RefusalReasonText(reason));
}
