#include "pack.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dist_rules.h"
#include "distfiles/side_file_table.h"
#include "interrupt.h"
#include "parallel_deflate.h"
#include "signing.h"
#include "unpack.h"
#include "unzip/builtin_password.h"
#include "unzip/posix/posix_platform.h"
#include "zip_records.h"

const char kPackHelp[] =
    "usage: ksdist pack --product DIR --side-files DIR --setup SETUP.EXE --out DIST\n"
    "                   [--store] [--no-encrypt] [--password TEXT] [--level N]\n"
    "                   [--sign-cert CERT.pfx [--sign-password-file FILE] [--timestamp-url URL]]\n"
    "\n"
    "Builds the distribution folder DIST: a copy of SETUP.EXE, the seven side files from the\n"
    "side-files folder (README.TXT KESTRA.TXT LICENSE.TXT VENDOR.TXT WHATSNEW.TXT FILE_ID.DIZ\n"
    "ORDER.TXT, copied byte for byte and given SETUP.EXE's last-write time to the nanosecond),\n"
    "and setup.ks, a ZIP archive of every file below the product folder.\n"
    "\n"
    "  --product DIR     the product as it is to be installed; SETUP.EXE puts every file in\n"
    "                    the install folder under its base name, so subfolders are flattened\n"
    "                    and two files with one name (case ignored) are an error.\n"
    "                    KESTRA32.EXE must be there; it is stored as KESTRA32.EX_\n"
    "  --side-files DIR  the folder holding the seven side files\n"
    "  --setup FILE      the SETUP.EXE to ship; the distribution takes its last-write time\n"
    "  --out DIST        the folder to create; it must not exist or be empty\n"
    "  --store           store every file without compression\n"
    "  --level N         deflate at libdeflate's level N, 1 (fastest) to 12 (smallest, the\n"
    "                    default), files on every core at once; a file larger than 32 MiB is\n"
    "                    deflated by zlib at level N (9 at most) in pieces, to bound memory.\n"
    "                    A file that does not shrink is stored\n"
    "  --no-encrypt      do not encrypt (SETUP.EXE reads both)\n"
    "  --password TEXT   encrypt with TEXT instead of the built-in password (SETUP.EXE knows\n"
    "                    only the built-in one: for tests)\n";

// What the help says after the options.
const char kPackHelpEnd[] =
    "\n"
    "Entry times are the files' last-write times in local time, to the even second below.\n"
    "The distribution is written into a temporary folder beside DIST and renamed at the end:\n"
    "after an error DIST does not exist.\n"
    "\n"
    "Exit status: 0 written, 2 an error (one line on stderr naming the file), 99 cancelled\n"
    "(Ctrl-C), 64 usage error.\n";

namespace {

constexpr size_t kBlockBytes = 1 << 16;
constexpr int kHighestLevel = 12;  // libdeflate's
constexpr uint64_t kLargestEntry = 0xFFFFFFFFu;
// SETUP.EXE positions the archive with signed 32-bit offsets.
constexpr uint64_t kLargestArchive = 0x7FFFFFFFu;

struct PackOptions {
  std::string product, sideFiles, setup, out;
  bool store = false;
  bool encrypt = true;
  std::string password = kBuiltInPassword;
  bool ownPassword = false;
  int level = kHighestLevel;
  SigningOptions signing;
};

// Ends the command: `path` is the file concerned, `what` says what went wrong with it.
struct PackError : std::runtime_error {
  PackError(const std::string& path, const std::string& what)
      : std::runtime_error(path + ": " + what) {}
};

struct PackCancelled {};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw PackError(path, what);
}

[[noreturn]] void FailWithErrno(const std::string& path, const std::string& doing) {
  Fail(path, doing + ": " + std::strerror(errno));
}

void CheckInterrupt() {
  if (Interrupted()) throw PackCancelled();
}

const SigningCommandHelp kHelp = {"pack", kPackHelp, kPackHelpEnd};

int UsageError(const std::string& what) {
  return kHelp.UsageError(what);
}

// Returns -1 when the arguments are complete, else the exit status to end with.
int ParseArguments(int argc, char** argv, PackOptions& options) {
  std::pair<const char*, std::string*> valued[] = {{"--product", &options.product},
                                                   {"--side-files", &options.sideFiles},
                                                   {"--setup", &options.setup},
                                                   {"--out", &options.out}};
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    auto option = std::find_if(std::begin(valued), std::end(valued),
                               [&](const auto& v) { return arg == v.first; });
    std::string problem;
    if (TakeSigningOption(argc, argv, i, options.signing, problem)) {
      if (!problem.empty()) return UsageError(problem);
    } else if (arg == "--help" || arg == "-h") {
      kHelp.Print(stdout);
      return kExitDone;
    } else if (option != std::end(valued)) {
      if (!hasValue) return UsageError(arg + " needs a value");
      *option->second = argv[++i];
    } else if (arg == "--level") {
      std::string value = hasValue ? argv[++i] : "";
      bool digits = !value.empty() && value.size() <= 2 &&
                    value.find_first_not_of("0123456789") == std::string::npos;
      options.level = digits ? std::stoi(value) : 0;
      if (options.level < 1 || options.level > kHighestLevel)
        return UsageError("--level needs a number from 1 to 12");
    } else if (arg == "--password") {
      if (!hasValue) return UsageError("--password needs a value");
      options.password = argv[++i];
      options.ownPassword = true;
    } else if (arg == "--store") {
      options.store = true;
    } else if (arg == "--no-encrypt") {
      options.encrypt = false;
    } else {
      return UsageError("unknown argument " + arg);
    }
  }
  for (const auto& [name, value] : valued)
    if (value->empty()) return UsageError(std::string(name) + " is missing");
  if (!options.encrypt && options.ownPassword)
    return UsageError("--password and --no-encrypt exclude each other");
  if (std::string problem = SigningOptionsProblem(options.signing); !problem.empty())
    return UsageError(problem);
  return -1;
}

// A file descriptor that closes itself.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, so that a late write error (a full disk on some file systems) is seen.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

// A product or side file being read; errors name it.
class InputFile {
 public:
  explicit InputFile(const std::string& path)
      : path_(path), fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_.get() < 0) FailWithErrno(path, "cannot open");
    if (fstat(fd_.get(), &status_) != 0) FailWithErrno(path, "cannot read");
    if (!S_ISREG(status_.st_mode)) Fail(path, "not a regular file");
  }
  const struct stat& status() const { return status_; }
  // Fills `block` with up to its capacity; returns the count, 0 at the end.
  size_t Read(char* block, size_t capacity) {
    CheckInterrupt();
    for (;;) {
      ssize_t got = read(fd_.get(), block, capacity);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno != EINTR) FailWithErrno(path_, "cannot read");
    }
  }
  void Rewind() {
    if (lseek(fd_.get(), 0, SEEK_SET) != 0) FailWithErrno(path_, "cannot read");
  }

 private:
  std::string path_;
  Descriptor fd_;
  struct stat status_;
};

// A file being written into the distribution. Errors name it by its final path in DIST.
class OutputFile {
 public:
  OutputFile(const std::string& path, const std::string& shownPath)
      : shown_(shownPath), fd_(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)) {
    if (fd_.get() < 0) FailWithErrno(shown_, "cannot create");
  }
  uint64_t size() const { return size_; }
  void Write(const std::string& bytes) {
    WriteAt(size_, bytes);
    size_ += bytes.size();
  }
  void WriteAt(uint64_t offset, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      ssize_t put = pwrite(fd_.get(), bytes.data() + done, bytes.size() - done,
                           static_cast<off_t>(offset + done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) FailWithErrno(shown_, "cannot write");
      done += static_cast<size_t>(put);
    }
  }
  void Truncate(uint64_t size) {
    if (ftruncate(fd_.get(), static_cast<off_t>(size)) != 0) FailWithErrno(shown_, "cannot write");
    size_ = size;
  }
  void Close() {
    if (!fd_.Close()) FailWithErrno(shown_, "cannot write");
  }

 private:
  std::string shown_;
  Descriptor fd_;
  uint64_t size_ = 0;
};

// The temporary folder beside DIST; removed with everything in it unless it became DIST.
class StagingFolder {
 public:
  explicit StagingFolder(const std::string& out) {
    size_t slash = out.find_last_of('/');
    std::string parent = slash == std::string::npos ? "." : out.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? out : out.substr(slash + 1);
    std::string pattern = (slash == std::string::npos ? "" : parent) + "." + base + ".pack-XXXXXX";
    if (!mkdtemp(pattern.data())) FailWithErrno(parent, "cannot create a folder in it");
    path_ = pattern;
    // mkdtemp keeps the folder private; DIST gets the mode any new folder would.
    mode_t mask = umask(0);
    umask(mask);
    chmod(path_.c_str(), 0777 & ~mask);
  }
  ~StagingFolder() {
    if (!path_.empty()) RemoveTree(path_);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  void RenameTo(const std::string& out) {
    if (rename(path_.c_str(), out.c_str()) != 0) FailWithErrno(out, "cannot create");
    path_.clear();
  }

 private:
  static void RemoveTree(const std::string& folder) {
    if (DIR* listing = opendir(folder.c_str())) {
      while (dirent* entry = readdir(listing))
        if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
          unlink((folder + "/" + entry->d_name).c_str());
      closedir(listing);
    }
    rmdir(folder.c_str());
  }
  std::string path_;
};

struct ProductFile {
  std::string path;
  std::string stored;  // the base name in UTF-8, KESTRA32.EXE as KESTRA32.EX_
  uint64_t size;       // as the folder listed it
};

// Every regular file below `folder` (symbolic links followed, each folder visited once), in
// the order of their paths, with its size.
void CollectFiles(const std::string& folder, std::set<std::pair<dev_t, ino_t>>& visited,
                  std::vector<std::pair<std::string, uint64_t>>& files) {
  DIR* listing = opendir(folder.c_str());
  if (!listing) FailWithErrno(folder, "cannot read the folder");
  std::vector<std::string> names;
  while (dirent* entry = readdir(listing))
    if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
      names.push_back(entry->d_name);
  closedir(listing);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = folder + "/" + name;
    struct stat status;
    if (stat(path.c_str(), &status) != 0) FailWithErrno(path, "cannot read");
    if (S_ISDIR(status.st_mode)) {
      if (visited.insert({status.st_dev, status.st_ino}).second) CollectFiles(path, visited, files);
    } else if (S_ISREG(status.st_mode)) {
      files.emplace_back(path, status.st_size);
    } else {
      Fail(path, "not a regular file");
    }
  }
}

std::string BaseNameOf(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

// The product's files with the names SETUP.EXE will give them; refuses what it cannot install.
std::vector<ProductFile> CollectProduct(const std::string& folder) {
  struct stat status;
  if (stat(folder.c_str(), &status) != 0) FailWithErrno(folder, "cannot read the folder");
  if (!S_ISDIR(status.st_mode)) Fail(folder, "not a folder");
  std::set<std::pair<dev_t, ino_t>> visited = {{status.st_dev, status.st_ino}};
  std::vector<std::pair<std::string, uint64_t>> paths;
  CollectFiles(folder, visited, paths);

  std::vector<ProductFile> files;
  InstalledNames installed;
  bool hasMainProgram = false;
  for (const auto& [path, size] : paths) {
    std::string name = BaseNameOf(path);
    if (SameNameIgnoringCase(name, kMainProgramName)) {
      name = kMainProgramStoredName;
      hasMainProgram = true;
    } else if (std::string problem = InstalledNameProblem(name); !problem.empty()) {
      Fail(path, problem);
    }
    if (std::optional<std::string> other = installed.Add(name, path))
      Fail(path, "SETUP.EXE would install it under the same name as " + *other);
    files.push_back({path, name, size});
  }
  if (!hasMainProgram)
    Fail(folder + "/" + kMainProgramName, "missing: the product's main program must be there");
  return files;
}

// Local time to the even second below, as the FAT file system keeps it.
std::pair<uint16_t, uint16_t> DosStamp(time_t time) {
  struct tm local;
  localtime_r(&time, &local);
  return ::DosStamp(local);
}

// A product file made ready on a worker thread: read whole, checked and deflated. A file larger
// than kWholeFileBytes is left to the writer, which deflates it as it reads.
struct PreparedFile {
  bool streamed = false;
  time_t lastWrite = 0;
  ZipHeaderFields fields;  // name, flags, time, CRC, sizes and method, but for the encryption
  std::string data;        // what the entry holds, before any encryption
};

// Files up to this size are read whole and deflated by libdeflate; larger ones by zlib, in
// pieces, so that memory stays bounded. Files read whole wait for their turn to be written
// while they weigh no more than kPreparedBytes together.
constexpr uint64_t kWholeFileBytes = 32u << 20;
constexpr uint64_t kPreparedBytes = 256u << 20;
constexpr int kHighestZlibLevel = 9;

PreparedFile PrepareFile(const ProductFile& file, const PackOptions& options) {
  InputFile in(file.path);
  if (static_cast<uint64_t>(in.status().st_size) > kLargestEntry)
    Fail(file.path, "4 GiB or larger: too large for the archive");
  PreparedFile prepared;
  prepared.lastWrite = in.status().st_mtime;
  prepared.fields.name = file.stored;
  prepared.fields.flags = options.encrypt ? kFlagEncrypted : 0;
  // A name beyond ASCII is marked as UTF-8, which SETUP.EXE spells exactly; unmarked, each
  // customer's OEM code page would read it its own way.
  for (char c : file.stored)
    if (c & 0x80) prepared.fields.flags |= kFlagUtf8Name;
  std::tie(prepared.fields.dosDate, prepared.fields.dosTime) = DosStamp(prepared.lastWrite);
  prepared.fields.uncompressedSize = static_cast<uint32_t>(in.status().st_size);
  if (static_cast<uint64_t>(in.status().st_size) > kWholeFileBytes) {
    prepared.streamed = true;
    return prepared;
  }
  std::string whole(prepared.fields.uncompressedSize + 1, '\0');
  size_t size = 0;
  while (size_t got = in.Read(whole.data() + size, whole.size() - size)) size += got;
  if (size != prepared.fields.uncompressedSize)
    Fail(file.path, "changed while it was being packed");
  whole.resize(size);
  prepared.fields.crc = ZlibCrc32(whole);
  std::optional<std::string> deflated;
  if (!options.store) deflated = DeflateWhole(whole.data(), whole.size(), options.level);
  prepared.fields.method = deflated ? kMethodDeflated : kMethodStored;
  prepared.data = deflated ? std::move(*deflated) : std::move(whole);
  return prepared;
}

// Writes setup.ks entry by entry.
class ArchiveWriter {
 public:
  ArchiveWriter(OutputFile& out, const PackOptions& options) : out_(out), options_(options) {}

  void Add(const ProductFile& file, PreparedFile prepared) {
    ZipHeaderFields& fields = prepared.fields;
    uint64_t header = out_.size();
    out_.Write(LocalHeaderRecord(fields));
    uint64_t data = out_.size();
    if (prepared.streamed) {
      AddStreamed(file, fields, data);
    } else {
      std::optional<TraditionalCipher> cipher = StartEncryption(fields);
      if (cipher) cipher->Encrypt(prepared.data.data(), prepared.data.size());
      out_.Write(prepared.data);
    }
    fields.compressedSize = static_cast<uint32_t>(out_.size() - data);
    out_.WriteAt(header, LocalHeaderRecord(fields));
    central_ += CentralHeaderRecord(fields, static_cast<uint32_t>(header), kDosAttributeArchive);
    ++count_;
    productBytes_ += fields.uncompressedSize;
    CheckSize();
  }

  void Finish() {
    uint64_t start = out_.size();
    out_.Write(central_);
    out_.Write(
        EndRecord(count_, static_cast<uint32_t>(central_.size()), static_cast<uint32_t>(start)));
    CheckSize();
    out_.Close();
  }

  uint32_t count() const { return count_; }
  uint64_t productBytes() const { return productBytes_; }

 private:
  // A file too large to hold: read once for its CRC, which the encryption header needs first,
  // then again to deflate it, and a third time to store it if it did not shrink.
  void AddStreamed(const ProductFile& file, ZipHeaderFields& fields, uint64_t data) {
    InputFile in(file.path);
    fields.crc = Checksum(in, file.path, fields.uncompressedSize);
    fields.method = options_.store ? kMethodStored : kMethodDeflated;
    uint64_t payload = WriteData(in, file.path, fields);
    if (fields.method == kMethodDeflated && payload >= fields.uncompressedSize) {
      out_.Truncate(data);
      fields.method = kMethodStored;
      WriteData(in, file.path, fields);
    }
  }

  uint32_t Checksum(InputFile& in, const std::string& path, uint32_t size) {
    uint32_t crc = 0;
    uint64_t total = 0;
    while (size_t got = in.Read(block_, sizeof block_)) {
      crc = ZlibCrc32(crc, block_, got);
      total += got;
    }
    if (total != size) Fail(path, "changed while it was being packed");
    return crc;
  }

  // Writes the encryption header when the archive is encrypted, and returns the cipher that
  // goes on with the entry's data. The header's 11 filler bytes need no secrecy (the password
  // is built into SETUP.EXE), only to differ from entry to entry: drawn from the entry's name,
  // CRC and size, they come out the same in every run, and so does the archive.
  std::optional<TraditionalCipher> StartEncryption(const ZipHeaderFields& fields) {
    std::optional<TraditionalCipher> cipher;
    if (options_.encrypt) {
      cipher.emplace(options_.password);
      std::vector<uint32_t> entry(fields.name.begin(), fields.name.end());
      entry.insert(entry.end(), {fields.crc, fields.uncompressedSize});
      std::seed_seq seed(entry.begin(), entry.end());
      std::mt19937 draw(seed);
      uint8_t filler[kZipEncryptionHeaderBytes - 1];
      for (uint8_t& byte : filler) byte = static_cast<uint8_t>(draw());
      out_.Write(cipher->Header(filler, static_cast<uint8_t>(fields.crc >> 24)));
    }
    return cipher;
  }

  // Writes the entry's data (encryption header, then the stored or deflated bytes) after what
  // is in the archive; returns the count of compressed bytes without the encryption header.
  uint64_t WriteData(InputFile& in, const std::string& path, const ZipHeaderFields& fields) {
    in.Rewind();
    std::optional<TraditionalCipher> cipher = StartEncryption(fields);
    std::optional<RawDeflater> deflater;
    if (fields.method == kMethodDeflated)
      deflater.emplace(std::min(options_.level, kHighestZlibLevel));
    uint64_t payload = 0, total = 0;
    uint32_t crc = 0;
    for (;;) {
      size_t got = in.Read(block_, sizeof block_);
      crc = ZlibCrc32(crc, block_, got);
      total += got;
      std::string piece;
      if (deflater)
        deflater->Deflate(block_, got, got == 0, piece);
      else
        piece.assign(block_, got);
      if (cipher) cipher->Encrypt(piece.data(), piece.size());
      out_.Write(piece);
      payload += piece.size();
      if (got == 0) break;
    }
    if (crc != fields.crc || total != fields.uncompressedSize)
      Fail(path, "changed while it was being packed");
    return payload;
  }

  void CheckSize() {
    if (out_.size() > kLargestArchive)
      Fail(options_.out + "/" + kArchiveName, "would pass 2 GiB, more than SETUP.EXE can read");
  }

  OutputFile& out_;
  const PackOptions& options_;
  std::string central_;
  uint32_t count_ = 0;
  uint64_t productBytes_ = 0;
  char block_[kBlockBytes];
};

// Writes the product into the archive in the order of `product`, with the files prepared on
// every core meanwhile.
void WriteProduct(ArchiveWriter& writer, const std::vector<ProductFile>& product,
                  const PackOptions& options) {
  std::vector<uint64_t> weights;
  for (const ProductFile& file : product)
    weights.push_back(file.size > kWholeFileBytes ? 0 : file.size);
  OrderedJobs<PreparedFile> jobs(weights, kPreparedBytes,
                                 [&](size_t i) { return PrepareFile(product[i], options); });
  for (size_t i = 0; i < product.size(); ++i) writer.Add(product[i], jobs.Take(i));
}

void CopyFile(const std::string& from, const std::string& to, const std::string& shownTo) {
  InputFile in(from);
  OutputFile out(to, shownTo);
  std::string block(kBlockBytes, '\0');
  while (size_t got = in.Read(block.data(), block.size())) out.Write(block.substr(0, got));
  out.Close();
}

// Gives `path` the last-write time `time` (and the same last-access time), to the nanosecond.
void Stamp(const std::string& path, const std::string& shown, const UnixFileTime& time) {
  UnixFileTime times[2] = {time, time};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    FailWithErrno(shown, "cannot set the last-write time");
}

// DIST must not exist yet, or be an empty folder that the finished distribution replaces.
void CheckOut(const std::string& out) {
  struct stat status;
  if (lstat(out.c_str(), &status) != 0) {
    if (errno != ENOENT) FailWithErrno(out, "cannot use");
    return;
  }
  if (!S_ISDIR(status.st_mode)) Fail(out, "exists and is not a folder");
  DIR* listing = opendir(out.c_str());
  if (!listing) FailWithErrno(out, "cannot use");
  bool empty = true;
  while (dirent* entry = readdir(listing))
    if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, "..")) empty = false;
  closedir(listing);
  if (!empty) Fail(out, "exists and is not empty");
}

std::string SideFileSource(const PackOptions& options, const char* name) {
  std::optional<std::string> path = FindIgnoringCase(options.sideFiles, name);
  if (!path) Fail(options.sideFiles + "/" + name, "missing: every side file must be there");
  return *path;
}

void CheckSetupExe(const std::string& path) {
  InputFile in(path);
  char magic[2] = {};
  if (in.Read(magic, sizeof magic) != 2 || magic[0] != 'M' || magic[1] != 'Z')
    Fail(path, "not a Windows program");
}

void Pack(const PackOptions& options) {
  CheckOut(options.out);
  CheckSetupExe(options.setup);
  std::vector<std::string> sideFiles;
  for (const SideFileEntry* row = kSideFiles; row->name; ++row)
    sideFiles.push_back(SideFileSource(options, row->name));
  std::vector<ProductFile> product = CollectProduct(options.product);

  StagingFolder staging(options.out);
  auto shown = [&](const std::string& name) { return options.out + "/" + name; };
  if (options.signing.wanted()) {
    std::string problem = SignProgram(options.setup, staging / kSetupExeName, options.signing);
    CheckInterrupt();  // Ctrl-C stops osslsigncode too: then the run was cancelled, not failed
    if (!problem.empty()) Fail(options.setup, problem);
  } else {
    CopyFile(options.setup, staging / kSetupExeName, shown(kSetupExeName));
  }
  for (size_t i = 0; i < sideFiles.size(); ++i)
    CopyFile(sideFiles[i], staging / kSideFiles[i].name, shown(kSideFiles[i].name));
  OutputFile archive(staging / kArchiveName, shown(kArchiveName));
  ArchiveWriter writer(archive, options);
  WriteProduct(writer, product, options);
  writer.Finish();

  // Every file of the release gets SETUP.EXE's time: the side files must, setup.ks may.
  struct stat setup;
  if (stat(options.setup.c_str(), &setup) != 0) FailWithErrno(options.setup, "cannot read");
  Stamp(staging / kSetupExeName, shown(kSetupExeName), setup.st_mtim);
  for (const SideFileEntry* row = kSideFiles; row->name; ++row)
    Stamp(staging / row->name, shown(row->name), setup.st_mtim);
  Stamp(staging / kArchiveName, shown(kArchiveName), setup.st_mtim);
  CheckInterrupt();
  staging.RenameTo(options.out);

  std::printf("ksdist pack: wrote %s\n", options.out.c_str());
  std::printf("  %-12s last written %s (the side files carry the same time)\n", kSetupExeName,
              FormatTime(setup.st_mtim).c_str());
  if (options.signing.wanted())
    std::printf("  %-12s signed by %s\n", kSetupExeName,
                DescribeSignature(options.out + "/" + kSetupExeName).signer.c_str());
  std::printf(
      "  %-12s %u files, %s bytes of product in %s bytes, %s, %s\n", kArchiveName, writer.count(),
      Grouped(writer.productBytes()).c_str(), Grouped(archive.size()).c_str(),
      options.store ? "stored" : ("deflated at level " + std::to_string(options.level)).c_str(),
      !options.encrypt      ? "not encrypted"
      : options.ownPassword ? "encrypted with the password given"
                            : "encrypted with the built-in password");
  if (options.ownPassword)
    std::printf(
        "  note: SETUP.EXE decrypts with its built-in password only; it will not "
        "install this distribution\n");
}

}  // namespace

int RunPack(int argc, char** argv) {
  PackOptions options;
  int status = ParseArguments(argc, argv, options);
  if (status >= 0) return status;
  while (options.out.size() > 1 && options.out.back() == '/') options.out.pop_back();
  CatchInterrupt();
  try {
    Pack(options);
    return kExitDone;
  } catch (const PackError& error) {
    std::fprintf(stderr, "ksdist pack: %s\n", error.what());
  } catch (const PackCancelled&) {
    std::fprintf(stderr, "ksdist pack: cancelled; %s was not written\n", options.out.c_str());
    return kExitCancelled;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ksdist pack: %s\n", error.what());
  }
  return kExitError;
}
