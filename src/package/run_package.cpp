#include "package/run_package.h"

#include <stdlib.h>
#include <string.h>

#include "common/files.h"
#include "common/setup_log.h"
#include "common/setup_state.h"
#include "package/private_folder.h"
#include "package/unpack_window.h"
#include "setup/command_tail.h"
#include "unzip/extraction.h"
#include "unzip/platform.h"

namespace {

constexpr char kTitle[] = "Kestra Setup";
constexpr char kDamaged[] = "The package is damaged: download it again";
constexpr char kCannotUnpack[] = "The package cannot be unpacked into %s";
constexpr char kCannotStart[] = "Setup cannot be started from %s";
constexpr char kSetupName[] = "SETUP.EXE";
constexpr char kArgv0[] = " -argv0 ";  // after the tail, which may be empty

// The payload begins where the image's last section ends in the file: the loaded image's own
// headers say where that is.
DWORD PayloadOffset() {
  const BYTE* base = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  DWORD end = 0;
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
    if (section->PointerToRawData + section->SizeOfRawData > end)
      end = section->PointerToRawData + section->SizeOfRawData;
  return end;
}

// The bytes after the stub; 0 when the package cannot be read (its test then fails).
DWORD PayloadSize(const char* packagePath, DWORD offset) {
  PlatformFile file = OpenArchiveFile(packagePath);
  if (file == kNoFile) return 0;
  int32_t size = SeekPlatformFileToEnd(file);
  ClosePlatformFile(file);
  return size > static_cast<int32_t>(offset) ? size - offset : 0;
}

// The failure goes to the log, if there is one, and in an interactive run into a box.
DWORD Fail(const char* format, const char* subject) {
  char text[kPathChars + 64];
  wsprintfA(text, format, subject);
  LogMessage(0, text);
  if (!setupState.quiet) MessageBoxA(nullptr, text, kTitle, MB_OK | MB_ICONSTOP);
  return kExitPackageFailed;
}

// One pass of the extractor over the payload: a test of every CRC without `folder`, else the
// unpacking into it. False when the pass did not end well.
bool RunPass(const char* packagePath, DWORD offset, const char* folder, int pass) {
  ExtractionRequest request = {};
  request.reportCrcErrors = 1;
  request.archivePath = packagePath;
  request.destinationFolder = folder;
  request.archiveOffset = static_cast<int32_t>(offset);
  BeginUnpackPass(pass, 2, PayloadSize(packagePath, offset), setupState.quiet);
  return RunExtractionJob(&request) != 0 && request.result == 0 && !UnpackFailed();
}

// `"folder\SETUP.EXE" tail -argv0 package`, in memory from the heap.
char* SetupCommandLine(const char* folder, const char* tail, const char* packagePath) {
  int length = static_cast<int>(1 + strlen(folder) + sizeof kSetupName + 2 + strlen(tail) +
                                sizeof kArgv0 + strlen(packagePath));
  char* line = static_cast<char*>(malloc(length));
  if (!line) return nullptr;
  wsprintfA(line, "\"%s%s\" ", folder, kSetupName);
  AppendText(line, tail, length);
  AppendText(line, kArgv0, length);
  AppendText(line, packagePath, length);
  return line;
}

// Starts SETUP.EXE from `folder` and waits for it; its exit code, or the stub's own failure.
DWORD RunSetup(const char* folder, const char* tail, const char* packagePath) {
  char setupPath[kPathChars];
  CopyText(setupPath, folder, kPathChars);
  AppendText(setupPath, kSetupName, kPathChars);
  char* line = SetupCommandLine(folder, tail, packagePath);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  bool started = line && CreateProcessA(setupPath, line, nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
  free(line);
  if (!started) return Fail(kCannotStart, folder);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = kExitPackageFailed;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

DWORD UnpackAndRun(const char* tail, const char* packagePath, DWORD offset) {
  bool whole = RunPass(packagePath, offset, nullptr, 0);
  if (!whole) {
    EndUnpackWindow();
    return UnpackFailed() ? Fail(kDamaged, "") : kExitPackageFailed;
  }
  char folder[kPathChars];
  if (!CreatePrivateFolder(folder)) {
    EndUnpackWindow();
    return Fail(kCannotUnpack, "the temporary folder");
  }
  bool unpacked = RunPass(packagePath, offset, folder, 1);
  EndUnpackWindow();
  DWORD code = kExitPackageFailed;
  if (unpacked)
    code = RunSetup(folder, tail, packagePath);
  else if (UnpackFailed())
    Fail(kCannotUnpack, folder);
  RemovePrivateFolder(folder);
  return code;
}

}  // namespace

DWORD RunPackage(const char* commandTail) {
  CommandLine line;
  ReadCommandLine(commandTail, &line);
  setupState.quiet = line.quiet;
  CopyText(setupState.logFile, line.logFile, kPathChars);
  char packagePath[kPathChars];
  DWORD length = GetModuleFileNameA(nullptr, packagePath, kPathChars);
  if (length == 0 || length >= kPathChars) return Fail(kCannotStart, "this package");
  return UnpackAndRun(commandTail, packagePath, PayloadOffset());
}
