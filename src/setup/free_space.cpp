#include "setup/free_space.h"

#include "common/files.h"
#include "common/rollback.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "ui/messages.h"

namespace {

constexpr DWORD kEndRecordBytes = 22;
constexpr DWORD kCentralFixedBytes = 46;
constexpr DWORD kEndSignature = 0x06054b50;
constexpr DWORD kCentralSignature = 0x02014b50;

DWORD Get16(const BYTE* p) {
  return p[0] | p[1] << 8;
}

DWORD Get32(const BYTE* p) {
  return Get16(p) | Get16(p + 2) << 16;
}

// Adds up the records of the central directory in `directory` (`size` bytes), and notes each
// record's name for the rollback's backup.
ULONGLONG SumCentralRecords(const BYTE* directory, DWORD size) {
  ULONGLONG total = 0;
  for (DWORD at = 0; at + kCentralFixedBytes <= size;) {
    const BYTE* record = directory + at;
    DWORD nameBytes = Get16(record + 28);
    if (Get32(record) != kCentralSignature || at + kCentralFixedBytes + nameBytes > size) break;
    total += Get32(record + 24);
    NoteNameToWrite(reinterpret_cast<const char*>(record) + kCentralFixedBytes,
                    static_cast<int>(nameBytes));
    at += kCentralFixedBytes + Get16(record + 28) + Get16(record + 30) + Get16(record + 32);
  }
  return total;
}

// Reads the end record from the archive's last bytes (setup.ks carries no archive comment; with
// one the entries count for nothing) and adds up the directory before it.
ULONGLONG SumDirectory(HANDLE file) {
  BYTE end[kEndRecordBytes];
  DWORD position = SetFilePointer(file, -static_cast<LONG>(kEndRecordBytes), nullptr, FILE_END);
  if (position == INVALID_SET_FILE_POINTER || !ReadFileAt(file, position, end, kEndRecordBytes) ||
      Get32(end) != kEndSignature)
    return 0;
  DWORD directorySize = Get32(end + 12);
  if (directorySize > position) return 0;
  BYTE* directory = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, directorySize + 1));
  ULONGLONG total = 0;
  if (directory && ReadFileAt(file, position - directorySize, directory, directorySize))
    total = SumCentralRecords(directory, directorySize);
  if (directory) GlobalFree(directory);
  return total;
}

// The root of the install folder's drive: "C:\" or "\\server\share\".
void DriveRoot(char* root) {
  CopyText(root, setupState.installFolder, kPathChars);
  int separators = root[0] == '\\' ? 4 : 1;
  for (char* p = root; *p; ++p)
    if (*p == '\\' && --separators == 0) {
      p[1] = '\0';
      return;
    }
}

using FreeSpaceExCall = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// The bytes free to this user; GetDiskFreeSpaceExA where Windows has it (95 OSR2 on), else
// GetDiskFreeSpaceA, which tells no more than 2 GB.
bool QueryFreeBytes(const char* root, ULONGLONG* freeBytes) {
  auto freeSpaceEx = ProcAs<FreeSpaceExCall>(
      GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "GetDiskFreeSpaceExA"));
  if (freeSpaceEx) {
    ULARGE_INTEGER available, total, free;
    if (!freeSpaceEx(root, &available, &total, &free)) return false;
    *freeBytes = available.QuadPart;
    return true;
  }
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
  if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
    return false;
  *freeBytes = static_cast<ULONGLONG>(freeClusters) * (sectorsPerCluster * bytesPerSector);
  return true;
}

DWORD Kilobytes(ULONGLONG bytes) {
  ULONGLONG kilobytes = (bytes + 1023) >> 10;
  return kilobytes > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<DWORD>(kilobytes);
}

}  // namespace

ULONGLONG DeclaredArchiveBytes(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  ULONGLONG total = SumDirectory(file);
  CloseHandle(file);
  return total;
}

bool CheckFreeSpace(HWND owner, ULONGLONG neededBytes) {
  char root[kPathChars];
  DriveRoot(root);
  ULONGLONG freeBytes;
  if (!QueryFreeBytes(root, &freeBytes) || freeBytes >= neededBytes) return true;
  int length = lstrlenA(root);
  if (length > 3) root[length - 1] = '\0';  // a share is shown without its final backslash
  if (length == 3) root[2] = '\0';          // a drive as "C:"
  ShowMessage(owner, MSG_NO_DISK_SPACE, MB_ICONERROR, root, Kilobytes(neededBytes),
              Kilobytes(freeBytes));
  return false;
}
