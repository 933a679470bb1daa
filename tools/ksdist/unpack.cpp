#include "unpack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "interrupt.h"
#include "unzip/extraction.h"
#include "unzip/posix/posix_platform.h"
#include "unzip/walk.h"

const char kUnpackHelp[] =
    "usage: ksdist unpack ARCHIVE [DEST] [--password TEXT] [--keep-folders] [--skip-empty]\n"
    "                     [--only NAME]... [--offset N] [--no-crc-check]\n"
    "\n"
    "Runs SETUP.EXE's extraction engine on ARCHIVE, one option per field of its request.\n"
    "\n"
    "  ARCHIVE          the archive; a path with no dot at all is opened with .ZIP added\n"
    "  DEST             an existing folder to extract into; without it the archive is only\n"
    "                   tested: every entry is decoded and checked, nothing is written\n"
    "  --password TEXT  decrypt with TEXT (its bytes as given) instead of the built-in password\n"
    "  --keep-folders   reproduce the stored folders below DEST, creating them (never through\n"
    "                   a symbolic link, never outside DEST); otherwise every file lands in\n"
    "                   DEST under its base name\n"
    "  --skip-empty     skip entries whose size is 0 instead of creating empty files\n"
    "  --only NAME      extract only the entry named NAME as it is shown (whole name with\n"
    "                   folders, slashes, case ignored); may be given more than once; not\n"
    "                   applied when testing; a NAME that names no entry is an error\n"
    "  --offset N       the ZIP data begins N bytes into the file\n"
    "  --no-crc-check   let a CRC mismatch pass silently instead of ending with an error\n"
    "\n"
    "Stored names are read in code page 437, or in UTF-8 when the entry says so, and written\n"
    "in UTF-8. Entries whose names would leave DEST or name a device (CON, NUL, COM1 ...),\n"
    "paths longer than 263 characters, and what SETUP.EXE cannot decode (Zip64, AES or\n"
    "strong encryption, methods other than stored and deflated) are refused; the message\n"
    "as SETUP.EXE shows it is followed by a line naming the entry and the reason.\n"
    "\n"
    "On a terminal, stderr shows each entry's name and a progress bar counted in units of\n"
    "10240 archive bytes against the archive's size; nothing of that when stderr is not a\n"
    "terminal.\n"
    "\n"
    "Exit status:\n"
    "  0   the job ran to its end\n"
    "  2   an error ended it; its text is on stderr as SETUP.EXE's message box shows it\n"
    "      (or an --only NAME named no entry)\n"
    "  99  cancelled with Ctrl-C (seen at the engine's next progress point)\n"
    "  64  usage error\n";

namespace {

struct UnpackOptions {
  std::string archive;
  std::optional<std::string> destination;
  std::optional<std::string> password;
  bool keepFolders = false;
  bool skipEmpty = false;
  bool crcCheck = true;
  int32_t offset = 0;
  std::vector<std::string> only;
};

int UsageError(const char* what, const char* argument = "") {
  std::fprintf(stderr, "ksdist unpack: %s%s\n\n%s", what, argument, kUnpackHelp);
  return kExitUsage;
}

bool ParseOffset(const char* text, int32_t& offset) {
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 0);
  if (errno || end == text || *end || value < 0 || value > INT32_MAX) return false;
  offset = static_cast<int32_t>(value);
  return true;
}

// Returns -1 when the arguments are complete, else the exit status to end with.
int ParseArguments(int argc, char** argv, UnpackOptions& options) {
  std::vector<std::string> positional;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUnpackHelp, stdout);
      return kExitDone;
    } else if (arg == "--password") {
      if (!hasValue) return UsageError("--password needs a value");
      options.password = argv[++i];
    } else if (arg == "--only") {
      if (!hasValue) return UsageError("--only needs a value");
      options.only.push_back(argv[++i]);
    } else if (arg == "--offset") {
      if (!hasValue || !ParseOffset(argv[++i], options.offset))
        return UsageError("--offset needs a number from 0 to 2147483647");
    } else if (arg == "--keep-folders") {
      options.keepFolders = true;
    } else if (arg == "--skip-empty") {
      options.skipEmpty = true;
    } else if (arg == "--no-crc-check") {
      options.crcCheck = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option ", arg.c_str());
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) return UsageError("no archive given");
  if (positional.size() > 2) return UsageError("too many arguments: ", positional[2].c_str());
  options.archive = positional[0];
  if (positional.size() == 2) options.destination = positional[1];
  return -1;
}

// What SETUP.EXE's progress dialog shows, on stderr when it is a terminal; the error boxes as
// lines on stderr always.
class TerminalObserver : public ExtractionObserver {
 public:
  TerminalObserver(bool showProgress, uint64_t totalUnits)
      : showProgress_(showProgress), totalUnits_(totalUnits ? totalUnits : 1) {}

  void OnEntryRead(const char* name) override { entries_.push_back(name); }
  void OnEntryName(const char* name) override {
    name_ = name;
    Draw();
  }
  bool OnProgress(uint16_t units) override {
    // The engine's count travels in 16 bits; each step forward is taken modulo 65,536.
    units_ += static_cast<uint16_t>(units - lastUnits_);
    lastUnits_ = units;
    Draw();
    return Interrupted();
  }
  bool OnPump() override { return Interrupted(); }
  void OnError(int, const char* text) override {
    EndLine();
    std::fprintf(stderr, "%s\n", text);
  }
  // A refusal of the whole archive names no entry.
  void OnRefusal(const char* entry, const char* reason) override {
    std::fprintf(stderr, "%s%s%s\n", entry, *entry ? ": " : "", reason);
  }
  // True when the archive holds an entry named `name` (slashes of either kind, case ignored).
  bool Holds(const std::string& name) const {
    for (const std::string& entry : entries_)
      if (EntryIsNamed(entry.c_str(), name.c_str())) return true;
    return false;
  }
  // A job that ran to its end fills the bar; one that did not leaves it where it stopped.
  void Finish(bool complete) {
    if (complete && drawn_) {
      units_ = totalUnits_;
      Draw();
    }
    EndLine();
  }

 private:
  void Draw() {
    if (!showProgress_) return;
    constexpr int kWidth = 30;
    uint64_t done = units_ < totalUnits_ ? units_ : totalUnits_;
    int filled = static_cast<int>(done * kWidth / totalUnits_);
    std::string bar(filled, '#');
    bar.resize(kWidth, '.');
    std::string name = name_.size() > 40 ? "..." + name_.substr(name_.size() - 37) : name_;
    std::fprintf(stderr, "\r[%s] %3d%%  %-40s", bar.c_str(),
                 static_cast<int>(done * 100 / totalUnits_), name.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  void EndLine() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

  bool showProgress_;
  uint64_t totalUnits_;
  uint64_t units_ = 0;
  uint16_t lastUnits_ = 0;
  std::string name_;
  bool drawn_ = false;
  std::vector<std::string> entries_;
};

uint64_t ArchiveUnits(const std::string& path, int32_t offset) {
  struct stat status;
  std::string opened = path.find('.') == std::string::npos ? path + ".ZIP" : path;
  if (stat(opened.c_str(), &status) != 0 || status.st_size <= offset) return 1;
  return (static_cast<uint64_t>(status.st_size) - offset) / 10240 + 1;
}

}  // namespace

int RunUnpack(int argc, char** argv) {
  UnpackOptions options;
  int status = ParseArguments(argc, argv, options);
  if (status >= 0) return status;

  CatchInterrupt();

  TerminalObserver observer(isatty(STDERR_FILENO) != 0,
                            ArchiveUnits(options.archive, options.offset));
  NameListNode* names = nullptr;
  for (const std::string& name : options.only) AppendName(&names, name.c_str());
  ExtractionRequest request = {};
  request.reportCrcErrors = options.crcCheck ? 1 : 0;
  request.archivePath = options.archive.c_str();
  request.destinationFolder = options.destination ? options.destination->c_str() : nullptr;
  request.selectedNames = names;
  request.keepFolderNames = options.keepFolders;
  request.archiveOffset = options.offset;
  request.progressWindow = &observer;
  request.skipEmptyEntries = options.skipEmpty;
  request.passwordGiven = options.password.has_value();
  request.password = options.password ? options.password->c_str() : nullptr;
  RunExtractionJob(&request);
  FreeNameList(names);
  observer.Finish(request.result == 0);

  if (request.result == kAbortCancelled) return kExitCancelled;
  if (request.result != 0) return kExitError;
  int unmatched = 0;
  for (const std::string& name : options.only) {
    if (observer.Holds(name)) continue;
    std::fprintf(stderr, "ksdist unpack: no entry of %s is named %s\n", options.archive.c_str(),
                 name.c_str());
    ++unmatched;
  }
  return unmatched ? kExitError : kExitDone;
}
