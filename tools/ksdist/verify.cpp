#include "verify.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "dist_rules.h"
#include "distfiles/side_file_table.h"
#include "interrupt.h"
#include "pe_resources.h"
#include "resources/catalogue.h"
#include "sha256.h"
#include "signing.h"
#include "shellext/version_scan.h"
#include "unpack.h"
#include "unzip/cp1252.h"
#include "unzip/extraction.h"
#include "unzip/job.h"
#include "unzip/posix/posix_platform.h"
#include "unzip/walk.h"

const char kVerifyHelp[] =
    "usage: ksdist verify DIST\n"
    "       ksdist verify PACKAGE.exe\n"
    "\n"
    "Given a package (a file made by 'ksdist package'), checks its signature as SETUP.EXE's\n"
    "below, unpacks it into a temporary folder with SETUP.EXE's extraction engine, every CRC\n"
    "checked, and checks the distribution it holds as follows.\n"
    "\n"
    "Checks the distribution folder DIST as SETUP.EXE will see it, and then some:\n"
    "  - SETUP.EXE is there; its SHA-256 is shown, to compare with the published build;\n"
    "  - SETUP.EXE's Authenticode signature, read by osslsigncode: the signer is named, and a\n"
    "    signature that no longer matches the file fails; an unsigned SETUP.EXE is a warning\n"
    "    (Windows warns about unsigned downloads);\n"
    "  - each of the seven side files is there with exactly SETUP.EXE's last-write time, as\n"
    "    Windows sees it (to 100 ns); the report names a file that differs and by how much;\n"
    "  - setup.ks is there and passes a test extraction with the CRC check on, run by\n"
    "    SETUP.EXE's own extraction engine with its built-in password: every entry is one\n"
    "    that SETUP.EXE can decode (stored or deflated, traditional encryption, no Zip64), and\n"
    "    comes out whole, of its declared size and CRC; a refused entry is named with the\n"
    "    reason;\n"
    "  - every file in setup.ks has a name that SETUP.EXE can install below the folder it\n"
    "    suggests, judged by the engine's own path rules (one that Windows holds, spelled in\n"
    "    code page 1252 and marked as UTF-8 beyond ASCII), and no two of them end up under one\n"
    "    name in the install folder, case ignored as Windows ignores it;\n"
    "  - KESTRA32.EX_ is in setup.ks;\n"
    "  - SETUP.EXE carries the stub library (resource KS_SHL of type KSSHLEXT); its file\n"
    "    version is shown;\n"
    "  - the progress total that SETUP.EXE will compute.\n"
    "Names are found as Windows finds them, ignoring case.\n"
    "\n"
    "Exit status: 0 SETUP.EXE would install this distribution, 2 it would not (the report\n"
    "says why), 99 cancelled (Ctrl-C), 64 usage error.\n";

namespace {

constexpr int16_t kMaxVersionPart = 20;  // as SETUP.EXE scans its own stub image
constexpr uint32_t kKilobyteShift = 10;
constexpr uint32_t kMeterStepKilobytes = 10;  // one meter step is 10240 bytes
constexpr uint32_t kMeterLimit = 0xFFFF;      // the meter reads range and position in 16 bits
constexpr off_t kLargestSetupExe = 64 << 20;

// The report: one line per check, printed as it is made.
class Report {
 public:
  void Pass(const std::string& subject, const std::string& text) { Line("ok  ", subject, text); }
  void Fail(const std::string& subject, const std::string& text,
            const std::string& setupSays = "") {
    Line("FAIL", subject, text);
    if (!setupSays.empty())
      std::printf("        SETUP.EXE would show: \"%s\"\n", setupSays.c_str());
    ++failures_;
  }
  void Note(const std::string& subject, const std::string& text) { Line("note", subject, text); }
  int failures() const { return failures_; }

 private:
  void Line(const char* mark, const std::string& subject, const std::string& text) {
    std::printf("  %s  %s: %s\n", mark, subject.c_str(), text.c_str());
  }
  int failures_ = 0;
};

std::string Filled(const char* format, const std::string& text) {
  char filled[512];
  std::snprintf(filled, sizeof filled, format, text.c_str());
  return filled;
}

// A regular file in the distribution, found as Windows finds it.
struct DistFile {
  std::string path;
  struct stat status;
};

std::optional<DistFile> FindDistFile(const std::string& folder, const std::string& name) {
  std::optional<std::string> path = FindIgnoringCase(folder, name);
  DistFile file;
  if (!path || stat(path->c_str(), &file.status) != 0 || !S_ISREG(file.status.st_mode))
    return std::nullopt;
  file.path = *path;
  return file;
}

// What SETUP.EXE adds to its progress total for a side file.
uint32_t CountedSize(const DistFile& file) {
  uint8_t header[kSzddHeaderBytes];
  uint32_t read = 0;
  int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ssize_t got = ::read(fd, header, sizeof header);
    read = got > 0 ? static_cast<uint32_t>(got) : 0;
    close(fd);
  }
  return SzddExpandedSize(header, read, static_cast<uint32_t>(file.status.st_size));
}

struct SideFileTotal {
  bool complete = true;  // every side file is there
  uint32_t bytes = 0;    // as SETUP.EXE adds them: 32 bits
};

SideFileTotal CheckSideFiles(const std::string& dist, const std::optional<DistFile>& setup,
                             Report& report) {
  SideFileTotal total;
  int failures = report.failures();
  for (const SideFileEntry* row = kSideFiles; row->name; ++row) {
    std::optional<DistFile> file = FindDistFile(dist, row->name);
    if (!file) {
      report.Fail(row->name, "missing", Filled(MSG_TEXT_1013, row->name));
      total.complete = false;
      continue;
    }
    total.bytes += CountedSize(*file);
    if (!setup) continue;
    int64_t difference =
        WindowsFileTime(file->status.st_mtim) - WindowsFileTime(setup->status.st_mtim);
    if (difference != 0)
      report.Fail(row->name,
                  "last-write time " + FormatTickDifference(difference) +
                      (difference > 0 ? " later" : " earlier") + " than SETUP.EXE's (" +
                      FormatTime(file->status.st_mtim) + ")",
                  Filled(MSG_TEXT_1023, row->name));
  }
  if (report.failures() == failures)
    report.Pass("side files",
                setup ? "all 7 there, each with SETUP.EXE's last-write time" : "all 7 there");
  return total;
}

// An entry that the test extraction decoded, by the names SETUP.EXE would give it.
struct TestedEntry {
  std::string installed;  // the file's name in the install folder
  std::string whole;      // the stored name, folders included, in UTF-8
  bool utf8;              // the entry says its name is UTF-8 (flag bit 11)
  bool nonAscii;          // the stored name has bytes above 127
};

// Sees what SETUP.EXE's progress dialog and error boxes would during a test extraction. The
// names come from the engine's own job record: the destination path it built below the
// install folder, as SETUP.EXE builds it, and the stored name as it read it.
class TestObserver : public ExtractionObserver {
 public:
  void OnEntryName(const char*) override {
    const ExtractionJob& job = extractionJob;
    bool nonAscii = false;
    for (const char* p = job.entryName; *p; ++p) nonAscii = nonAscii || (*p & 0x80);
    entries.push_back({BaseName(job.outputPath), job.shownName,
                       (job.localHeader.flags & kFlagUtf8Name) != 0, nonAscii});
  }
  bool OnProgress(uint16_t) override { return Interrupted(); }
  bool OnPump() override { return Interrupted(); }
  void OnError(int, const char* text) override { error = text; }
  void OnRefusal(const char* entry, const char* reason) override {
    refusedEntry = entry;
    refusal = reason;
  }

  std::vector<TestedEntry> entries;
  std::string error;
  std::string refusedEntry, refusal;  // set when an entry was refused, and why
};

// What SETUP.EXE does with an entry's name beyond the engine's path rules: on Western Windows
// it spells the whole stored name in code page 1252, and an old-style name goes through the
// customer's OEM code page, which differs from machine to machine.
std::string StoredNameProblem(const TestedEntry& entry) {
  if (!entry.utf8 && entry.nonAscii)
    return "the name has characters above ASCII but is not marked as UTF-8 (flag bit 11): "
           "SETUP.EXE reads it in the customer's OEM code page, which differs from machine to "
           "machine";
  if (entry.utf8 && !Cp1252SpellsName(entry.whole.c_str()))
    return "code page 1252 (Western Windows) cannot spell this name, folders included: "
           "SETUP.EXE refuses it";
  return "";
}

// The names that SETUP.EXE would install: each must be writable and none may land on another.
// After a failed test extraction only the names seen before it can be judged.
void CheckInstalledNames(const std::vector<TestedEntry>& entries, bool complete, Report& report) {
  InstalledNames installed;
  for (const TestedEntry& entry : entries) {
    const std::string& name = entry.installed;
    std::string problem = StoredNameProblem(entry);
    if (problem.empty() && !SameNameIgnoringCase(name, kMainProgramStoredName))
      problem = InstalledNameProblem(name);
    if (!problem.empty()) report.Fail(entry.whole + " in setup.ks", problem);
    if (installed.Add(name, name))
      report.Fail(entry.whole + " in setup.ks",
                  "installed twice under this name (case ignored); the later copy overwrites "
                  "the earlier");
  }
  if (installed.Contains(kMainProgramStoredName))
    report.Pass(kMainProgramStoredName, "in setup.ks; SETUP.EXE renames it to KESTRA32.EXE");
  else if (complete)
    report.Fail(kMainProgramStoredName, "not in setup.ks: the product cannot be started",
                Filled(MSG_TEXT_1018, std::string(kSuggestedInstallFolder) + kMainProgramName));
  else
    report.Note(kMainProgramStoredName, "not among the files tested before the failure");
}

// Tests setup.ks as SETUP.EXE unpacks it into the folder it suggests: every path is built and
// judged, nothing is written. Returns false when the job was cancelled.
bool CheckArchive(const DistFile& archive, Report& report) {
  TestObserver observer;
  ExtractionRequest request = {};
  request.reportCrcErrors = 1;
  request.archivePath = archive.path.c_str();
  request.destinationFolder = kSuggestedInstallFolder;
  request.testOnly = 1;
  request.progressWindow = &observer;
  RunExtractionJob(&request);
  if (request.result == kAbortCancelled) return false;
  if (request.result == 0)
    report.Pass(kArchiveName, Grouped(archive.status.st_size) + " bytes, " +
                                  std::to_string(observer.entries.size()) +
                                  " files tested by SETUP.EXE's extraction engine, every CRC "
                                  "right");
  else if (!observer.refusal.empty())
    report.Fail(observer.refusedEntry + " in setup.ks", "SETUP.EXE refuses it: " + observer.refusal,
                observer.error);
  else if (observer.entries.empty())
    report.Fail(kArchiveName, "the test extraction failed", observer.error);
  else
    report.Fail(kArchiveName, "the test extraction failed at " + observer.entries.back().whole,
                observer.error);
  CheckInstalledNames(observer.entries, request.result == 0, report);
  return true;
}

std::string VersionText(FileVersion version) {
  return std::to_string(version.ms >> 16) + "." + std::to_string(version.ms & 0xFFFF) + "." +
         std::to_string(version.ls >> 16) + "." + std::to_string(version.ls & 0xFFFF);
}

// Names who signed the program `subject` at `path`; a signature that does not match fails.
void CheckSignature(const std::string& path, const std::string& subject, Report& report) {
  SignatureReport signature = DescribeSignature(path);
  std::string signer = signature.signer.empty() ? "" : " by " + signature.signer;
  switch (signature.state) {
    case SignatureReport::kUnsigned:
      report.Note(subject, "not signed: Windows warns before it runs an unsigned download");
      break;
    case SignatureReport::kMatches:
      report.Pass(subject,
                  "signed" + signer + "; the signature matches the file; " + signature.detail);
      break;
    case SignatureReport::kBroken:
      report.Fail(subject,
                  "signed" + signer + ", but the signature does not match: " + signature.detail);
      break;
    case SignatureReport::kUnknown:
      report.Note(subject, signature.detail);
      break;
  }
}

void CheckStubLibrary(const DistFile& setup, Report& report) {
  const std::string subject = "stub library in SETUP.EXE";
  if (setup.status.st_size > kLargestSetupExe) {
    report.Fail(subject, "SETUP.EXE is too large to be read", MSG_TEXT_1053);
    return;
  }
  std::ifstream in(setup.path, std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)), {});
  PeResource stub = FindPeResource(image, "KSSHLEXT", "KS_SHL");
  if (!stub.found) {
    report.Fail(subject, stub.error, MSG_TEXT_1053);
    return;
  }
  uint8_t record[kFixedInfoBytes];
  std::string size = Grouped(stub.bytes.size()) + " bytes";
  if (FindFixedFileInfo(reinterpret_cast<const uint8_t*>(stub.bytes.data()),
                        static_cast<uint32_t>(stub.bytes.size()), kMaxVersionPart, record))
    report.Pass(subject, size + ", file version " + VersionText(FileVersionOfRecord(record)));
  else
    report.Note(subject, size +
                             " without a version record: setup replaces an installed stub "
                             "library every time");
}

// The total that the welcome dialog computes, in KB, and the meter's range that follows.
void ReportProgressTotal(uint32_t sideFileBytes, const DistFile& archive, Report& report) {
  uint32_t kilobytes =
      (sideFileBytes + static_cast<uint32_t>(archive.status.st_size)) >> kKilobyteShift;
  uint32_t range = kilobytes / kMeterStepKilobytes;
  report.Pass("progress total", Grouped(kilobytes) + " KB; the meter counts " + Grouped(range) +
                                    " steps of 10240 bytes");
  if (range > kMeterLimit)
    report.Note("progress total", "the meter holds 65,535 steps at most: its bar will be wrong");
}

}  // namespace

int VerifyDistribution(const std::string& dist) {
  struct stat status;
  if (stat(dist.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    std::fprintf(stderr, "ksdist verify: %s: not a folder\n", dist.c_str());
    return kExitError;
  }
  std::printf("ksdist verify: %s\n", dist.c_str());
  Report report;
  std::optional<DistFile> setup = FindDistFile(dist, kSetupExeName);
  if (setup) {
    report.Pass(kSetupExeName, Grouped(setup->status.st_size) + " bytes, last written " +
                                   FormatTime(setup->status.st_mtim));
    std::optional<std::string> digest = Sha256OfFile(setup->path);
    if (digest)
      report.Pass(kSetupExeName, "SHA-256 " + *digest);
    else
      report.Fail(kSetupExeName, "cannot be read");
    CheckSignature(setup->path, kSetupExeName, report);
  } else
    report.Fail(kSetupExeName, "missing");
  SideFileTotal sideFiles = CheckSideFiles(dist, setup, report);
  std::optional<DistFile> archive = FindDistFile(dist, kArchiveName);
  if (!archive)
    report.Fail(kArchiveName, "missing", "setup.ks is missing");
  else if (!CheckArchive(*archive, report))
    return kExitCancelled;
  if (setup) CheckStubLibrary(*setup, report);
  if (archive && sideFiles.complete) ReportProgressTotal(sideFiles.bytes, *archive, report);

  if (report.failures() == 0) {
    std::printf("SETUP.EXE would install this distribution.\n");
    return kExitDone;
  }
  std::printf("SETUP.EXE would not install this distribution: %d problem%s.\n", report.failures(),
              report.failures() == 1 ? "" : "s");
  return kExitError;
}

namespace {

// A temporary folder that is removed with everything in it.
struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ksdist-verify-XXXXXX").string();
    if (mkdtemp(pattern.data())) path = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

// A package: its own signature, then the distribution it carries, unpacked as the package stub
// unpacks it (from where the stub's image ends, every CRC checked).
int VerifyPackage(const std::string& package) {
  std::printf("ksdist verify: %s (a package)\n", package.c_str());
  Report report;
  CheckSignature(package, "package", report);
  std::ifstream in(package, std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)), {});
  std::string error;
  std::optional<uint64_t> payload = PeSectionsEnd(image, error);
  ScratchFolder scratch;
  TestObserver observer;
  ExtractionRequest request = {};
  request.reportCrcErrors = 1;
  request.archivePath = package.c_str();
  request.destinationFolder = scratch.path.c_str();
  request.archiveOffset = payload ? static_cast<int32_t>(*payload) : 0;
  request.progressWindow = &observer;
  if (!payload)
    report.Fail("package", error);
  else if (scratch.path.empty())
    report.Fail("package", "no temporary folder to unpack it into");
  else if (RunExtractionJob(&request), request.result == kAbortCancelled)
    return kExitCancelled;
  else if (request.result != 0)
    report.Fail(
        "package",
        "damaged: it does not unpack" + (observer.error.empty() ? "" : " (" + observer.error + ")"),
        "The package is damaged: download it again");
  else
    report.Pass("package", std::to_string(observer.entries.size()) +
                               " files unpacked by SETUP.EXE's extraction engine, every CRC right");
  int status = report.failures() == 0 ? VerifyDistribution(scratch.path) : kExitError;
  if (status == kExitError && report.failures() > 0)
    std::printf("The package would not install: %d problem%s.\n", report.failures(),
                report.failures() == 1 ? "" : "s");
  return status;
}

}  // namespace

int RunVerify(int argc, char** argv) {
  if (argc == 1 && (std::string(argv[0]) == "--help" || std::string(argv[0]) == "-h")) {
    std::fputs(kVerifyHelp, stdout);
    return kExitDone;
  }
  if (argc != 1 || argv[0][0] == '-') {
    std::fprintf(stderr,
                 "ksdist verify: give the distribution folder or package, and nothing else\n\n%s",
                 kVerifyHelp);
    return kExitUsage;
  }
  CatchInterrupt();
  struct stat status;
  if (stat(argv[0], &status) == 0 && S_ISREG(status.st_mode)) return VerifyPackage(argv[0]);
  return VerifyDistribution(argv[0]);
}
