#include "package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dist_rules.h"
#include "distfiles/side_file_table.h"
#include "interrupt.h"
#include "pe_resources.h"
#include "signing.h"
#include "unpack.h"
#include "verify.h"
#include "zip_records.h"

const char kPackageHelp[] =
    "usage: ksdist package DIST --stub KSPACKAGE.EXE --out PACKAGE.exe\n"
    "                      [--sign-cert CERT.pfx [--sign-password-file FILE]\n"
    "                       [--timestamp-url URL]]\n"
    "\n"
    "Writes PACKAGE.exe, the one file that customers download: the package stub KSPACKAGE.EXE\n"
    "(built next to SETUP.EXE) followed by the distribution folder DIST as one ZIP archive:\n"
    "SETUP.EXE, the seven side files and setup.ks, stored as they are, each with its\n"
    "last-write time. Run, the package checks every CRC, unpacks the distribution into a new\n"
    "private temporary folder, starts SETUP.EXE there with the switches it was given (/S, /D=,\n"
    "/LOG=) and -argv0 with its own path, waits, removes the folder and ends with SETUP.EXE's\n"
    "exit code (9 for its own failures).\n"
    "\n"
    "  DIST           a distribution folder; it is checked as 'ksdist verify' checks it first,\n"
    "                 and one that verify fails is refused\n"
    "  --stub FILE    the package stub, as built (not already a package, not signed)\n"
    "  --out FILE     the package to write; an existing file is replaced\n";

// After the signing options (whose help names SETUP.EXE: here they sign the package).
const char kPackageHelpEnd[] =
    "\n"
    "The signing options sign the package itself. The same DIST and stub give the same bytes:\n"
    "entry times are the files' last-write times in UTC, to the even second below, and nothing\n"
    "else of the moment goes in (a signature adds its signing time, fixed by\n"
    "SOURCE_DATE_EPOCH).\n"
    "\n"
    "Exit status: 0 written, 2 an error or a distribution that verify fails, 99 cancelled\n"
    "(Ctrl-C), 64 usage error.\n";

namespace {

constexpr uint64_t kLargestStub = 1 << 20;
// The stub positions the payload with signed 32-bit offsets, as SETUP.EXE does.
constexpr uint64_t kLargestPackage = 0x7FFFFFFFu;

struct PackageOptions {
  std::string dist, stub, out;
  SigningOptions signing;
};

struct PackageError : std::runtime_error {
  PackageError(const std::string& path, const std::string& what)
      : std::runtime_error(path + ": " + what) {}
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw PackageError(path, what);
}

const SigningCommandHelp kHelp = {"package", kPackageHelp, kPackageHelpEnd};

int UsageError(const std::string& what) {
  return kHelp.UsageError(what);
}

// Returns -1 when the arguments are complete, else the exit status to end with.
int ParseArguments(int argc, char** argv, PackageOptions& options) {
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    std::string problem;
    if (TakeSigningOption(argc, argv, i, options.signing, problem)) {
      if (!problem.empty()) return UsageError(problem);
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      kHelp.Print(stdout);
      return kExitDone;
    }
    if (arg == "--stub" || arg == "--out") {
      if (i + 1 == argc) return UsageError(arg + " needs a value");
      (arg == "--stub" ? options.stub : options.out) = argv[++i];
    } else if (arg[0] == '-' || !options.dist.empty()) {
      return UsageError("unknown argument " + arg);
    } else {
      options.dist = arg;
    }
  }
  if (options.dist.empty()) return UsageError("the distribution folder is missing");
  if (options.stub.empty()) return UsageError("--stub is missing");
  if (options.out.empty()) return UsageError("--out is missing");
  if (std::string problem = SigningOptionsProblem(options.signing); !problem.empty())
    return UsageError(problem);
  return -1;
}

std::string ReadWhole(const std::string& path, struct stat& status) {
  std::ifstream in(path, std::ios::binary);
  if (!in || stat(path.c_str(), &status) != 0) Fail(path, "cannot be read");
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  if (in.bad() || bytes.size() != static_cast<uint64_t>(status.st_size))
    Fail(path, "cannot be read");
  return bytes;
}

// The stub as built: a PE image with nothing after its last section, for that is where it
// looks for its payload.
std::string ReadStub(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && static_cast<uint64_t>(status.st_size) > kLargestStub)
    Fail(path, "too large for a package stub");
  std::string image = ReadWhole(path, status);
  std::string error;
  std::optional<uint64_t> end = PeSectionsEnd(image, error);
  if (!end) Fail(path, error);
  if (*end != image.size())
    Fail(path,
         "carries data after its image (a package already, or signed): give the stub "
         "as built");
  return image;
}

// The stub, then one stored entry per file of the distribution, then the central directory.
// Offsets count from the start of the package, so that ZIP tools read it as it stands.
class PackageWriter {
 public:
  explicit PackageWriter(std::string stub) : bytes_(std::move(stub)) {}

  void Add(const std::string& path, const std::string& name) {
    struct stat status;
    std::string data = ReadWhole(path, status);
    ZipHeaderFields fields;
    fields.name = name;
    // UTC, so that the package does not depend on the zone of the machine that makes it.
    struct tm utc;
    gmtime_r(&status.st_mtime, &utc);
    std::tie(fields.dosDate, fields.dosTime) = DosStamp(utc);
    fields.crc = ZlibCrc32(data);
    fields.compressedSize = fields.uncompressedSize = static_cast<uint32_t>(data.size());
    uint64_t header = bytes_.size();
    bytes_ += LocalHeaderRecord(fields);
    bytes_ += data;
    central_ += CentralHeaderRecord(fields, static_cast<uint32_t>(header), kDosAttributeArchive);
    ++count_;
    distributionBytes_ += data.size();
    CheckSize(path);
  }

  const std::string& Finish(const std::string& out) {
    uint64_t start = bytes_.size();
    bytes_ += central_;
    bytes_ +=
        EndRecord(count_, static_cast<uint32_t>(central_.size()), static_cast<uint32_t>(start));
    CheckSize(out);
    return bytes_;
  }

  uint64_t distributionBytes() const { return distributionBytes_; }

 private:
  void CheckSize(const std::string& path) {
    if (bytes_.size() + central_.size() > kLargestPackage)
      Fail(path, "the package would pass 2 GiB, more than the stub can read");
  }

  std::string bytes_;
  std::string central_;
  uint32_t count_ = 0;
  uint64_t distributionBytes_ = 0;
};

// Written beside `out` (and signed there, when asked) and renamed over it at the end: after an
// error no half package is left.
void WriteAtomically(const std::string& out, const std::string& bytes,
                     const SigningOptions& signing) {
  std::string temporary = out + ".package-XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) Fail(out, std::string("cannot be created: ") + std::strerror(errno));
  mode_t mask = umask(0);
  umask(mask);
  bool written = fchmod(fd, 0777 & ~mask) == 0;
  for (size_t done = 0; written && done < bytes.size();) {
    ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    written = put > 0;
    if (written) done += static_cast<size_t>(put);
  }
  int error = errno;
  written = close(fd) == 0 && written;
  std::string finished = temporary;
  if (written && signing.wanted()) {
    finished = temporary + ".signed";
    std::string problem = SignProgram(temporary, finished, signing);
    unlink(temporary.c_str());
    if (!problem.empty()) {
      unlink(finished.c_str());
      Fail(out, "cannot be signed: " + problem);
    }
    chmod(finished.c_str(), 0777 & ~mask);
  }
  if (!written || rename(finished.c_str(), out.c_str()) != 0) {
    error = written ? errno : error;
    unlink(finished.c_str());
    Fail(out, std::string("cannot be written: ") + std::strerror(error));
  }
}

std::string DistPath(const std::string& dist, const char* name) {
  std::optional<std::string> path = FindIgnoringCase(dist, name);
  if (!path) Fail(dist + "/" + name, "missing");
  return *path;
}

int Package(const PackageOptions& options) {
  int verified = VerifyDistribution(options.dist);
  if (verified == kExitCancelled) return verified;
  if (verified != kExitDone)
    Fail(options.dist, "ksdist verify refuses this distribution (see above); no package written");
  std::string stub = ReadStub(options.stub);
  uint64_t stubBytes = stub.size();
  PackageWriter writer(std::move(stub));
  writer.Add(DistPath(options.dist, kSetupExeName), kSetupExeName);
  for (const SideFileEntry* row = kSideFiles; row->name; ++row)
    writer.Add(DistPath(options.dist, row->name), row->name);
  writer.Add(DistPath(options.dist, kArchiveName), kArchiveName);
  const std::string& bytes = writer.Finish(options.out);
  if (Interrupted()) {
    std::fprintf(stderr, "ksdist package: cancelled; %s was not written\n", options.out.c_str());
    return kExitCancelled;
  }
  WriteAtomically(options.out, bytes, options.signing);
  std::printf("ksdist package: wrote %s\n", options.out.c_str());
  std::printf(
      "  %s bytes: the stub (%s bytes) and the distribution's %s bytes, stored; %s bytes "
      "more than the distribution\n",
      Grouped(bytes.size()).c_str(), Grouped(stubBytes).c_str(),
      Grouped(writer.distributionBytes()).c_str(),
      Grouped(bytes.size() - writer.distributionBytes()).c_str());
  if (options.signing.wanted())
    std::printf("  signed by %s\n", DescribeSignature(options.out).signer.c_str());
  return kExitDone;
}

}  // namespace

int RunPackage(int argc, char** argv) {
  PackageOptions options;
  int status = ParseArguments(argc, argv, options);
  if (status >= 0) return status;
  CatchInterrupt();
  try {
    return Package(options);
  } catch (const PackageError& error) {
    std::fprintf(stderr, "ksdist package: %s\n", error.what());
  }
  return kExitError;
}
