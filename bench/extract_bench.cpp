// Throughput of `ksdist unpack` against two small harnesses, side by side in one run. Three
// archives are generated (a ~40 MB mix of program-like and text files, deflated at level 9; the
// same encrypted with the built-in password; the same stored), and each is unpacked test-only
// and into a folder by three whole processes that do the same work: ksdist with the engine, and
// this program as a zlib harness and as a libdeflate harness (read the archive, decrypt where
// needed, inflate, CRC-32, write the files). zlib and libdeflate are peers here, used through
// their documented interfaces. Times are the processes' CPU times (user and system), best of
// several rounds in which the three take turns, so that other work on the machine disturbs them
// little and all alike; MB/s count decoded bytes. Files go to a tmpfs where there is one.
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/sample_data.h"
#include "support/zip_writer.h"
#include "unzip/builtin_password.h"
#include "unzip/decrypt.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kCorpusBytes = 40u << 20;
constexpr uint32_t kBlock = 28672;  // the engine's input block
constexpr int kRounds = 11;

// A software-like distribution: about 1,500 files, most of them binary, most of them small
// (256 bytes to 128 KB), every 64th a larger one (64 KB to 1 MB).
std::vector<ZipEntry> MakeCorpus(uint16_t method, bool encrypted) {
  std::vector<ZipEntry> entries;
  sample_data::Lcg sizes(40);
  size_t total = 0;
  for (uint32_t n = 0; total < kCorpusBytes; n++) {
    size_t size = n % 64 == 0 ? 65536u << sizes.Below(4) : 256u << sizes.Below(9);
    size = std::min(size + sizes.Below(size), kCorpusBytes - total);
    sample_data::Kind kind = n % 3 == 2 ? sample_data::Kind::kText : sample_data::Kind::kBinary;
    std::vector<uint8_t> data = sample_data::Make(kind, size, n + 1);
    ZipEntry entry;
    entry.name = "file" + std::to_string(n) + (kind == sample_data::Kind::kText ? ".txt" : ".bin");
    entry.data.assign(data.begin(), data.end());
    entry.method = method;
    if (encrypted) entry.password = std::string(kBuiltInPassword);
    total += size;
    entries.push_back(std::move(entry));
  }
  return entries;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    perror(path.c_str());
    exit(1);
  }
  fclose(file);
}

// --- The harnesses ----------------------------------------------------------------------------

uint16_t Get16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t(Get16(p)) | uint32_t(Get16(p + 2)) << 16;
}

// One entry as the walk over the local headers finds it, positioned at its (decrypted) data.
struct PeerEntry {
  uint16_t method;
  bool encrypted;
  uint32_t crc, compressedLeft, size;
  int out = -1;  // the output file, or -1 in a test-only run
};

void WriteAll(int out, const uint8_t* bytes, size_t count) {
  if (out >= 0 && write(out, bytes, count) != ssize_t(count)) exit(1);
}

// Reads the next local header of `in` and opens the entry's file in `folder` (empty: test only).
// False at the central directory.
bool NextPeerEntry(int in, const std::string& folder, PeerEntry& entry) {
  uint8_t header[30];
  if (read(in, header, 30) != 30 || Get32(header) != 0x04034b50) return false;
  entry.encrypted = (Get16(header + 6) & 1) != 0;
  entry.method = Get16(header + 8);
  entry.crc = Get32(header + 14);
  entry.compressedLeft = Get32(header + 18);
  entry.size = Get32(header + 22);
  char name[300] = {};
  uint16_t nameLength = Get16(header + 26);
  if (read(in, name, nameLength) != nameLength) exit(1);
  lseek(in, Get16(header + 28), SEEK_CUR);
  if (entry.encrypted) {
    uint8_t check[12];
    if (read(in, check, 12) != 12) exit(1);
    InitKeys(kBuiltInPassword);
    DecryptBuffer(check, 12);
    entry.compressedLeft -= 12;
  }
  entry.out = -1;
  if (!folder.empty()) {
    entry.out = open((folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  return true;
}

// Reads the entry's next `count` bytes of data into `into`, decrypted.
void ReadData(int in, const PeerEntry& entry, uint8_t* into, uint32_t count) {
  if (read(in, into, count) != ssize_t(count)) exit(1);
  if (entry.encrypted) DecryptBuffer(into, count);
}

// zlib: the data in the engine's block size through a 32 KB output buffer. Returns whether
// every CRC matched.
bool ZlibExtract(int in, const std::string& folder) {
  bool crcOk = true;
  std::vector<uint8_t> input(kBlock), output(32768);
  z_stream z{};
  inflateInit2(&z, -15);
  PeerEntry entry;
  while (NextPeerEntry(in, folder, entry)) {
    uint32_t running = 0;
    inflateReset(&z);
    int status = Z_OK;
    while (entry.compressedLeft > 0) {
      uint32_t n = std::min(entry.compressedLeft, kBlock);
      ReadData(in, entry, input.data(), n);
      entry.compressedLeft -= n;
      if (entry.method == 0) {
        running = crc32(running, input.data(), n);
        WriteAll(entry.out, input.data(), n);
        continue;
      }
      z.next_in = input.data();
      z.avail_in = n;
      while (z.avail_in > 0 && status != Z_STREAM_END) {
        z.next_out = output.data();
        z.avail_out = uInt(output.size());
        status = inflate(&z, Z_NO_FLUSH);
        size_t produced = output.size() - z.avail_out;
        running = crc32(running, output.data(), uInt(produced));
        WriteAll(entry.out, output.data(), produced);
        if (status != Z_OK && status != Z_STREAM_END) exit(1);
      }
    }
    if (entry.out >= 0) close(entry.out);
    crcOk = crcOk && running == entry.crc;
  }
  inflateEnd(&z);
  return crcOk;
}

// libdeflate decodes whole buffers: each entry's data is read at once and decoded at once.
bool LibdeflateExtract(int in, const std::string& folder) {
  bool crcOk = true;
  std::vector<uint8_t> input, output;
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  PeerEntry entry;
  while (NextPeerEntry(in, folder, entry)) {
    input.resize(entry.compressedLeft);
    ReadData(in, entry, input.data(), entry.compressedLeft);
    const uint8_t* data = input.data();
    if (entry.method != 0) {
      output.resize(entry.size);
      if (libdeflate_deflate_decompress(decompressor, input.data(), input.size(), output.data(),
                                        output.size(), nullptr) != LIBDEFLATE_SUCCESS) {
        exit(1);
      }
      data = output.data();
    }
    crcOk = crcOk && libdeflate_crc32(0, data, entry.size) == entry.crc;
    WriteAll(entry.out, data, entry.size);
    if (entry.out >= 0) close(entry.out);
  }
  libdeflate_free_decompressor(decompressor);
  return crcOk;
}

// `extract_bench --zlib|--libdeflate ARCHIVE [FOLDER]`: one harness run, exit status 0 when
// every CRC matched.
int RunHarness(const std::string& which, const char* archive, const char* folder) {
  int in = open(archive, O_RDONLY);
  if (in < 0) return 1;
  bool ok = which == "--zlib" ? ZlibExtract(in, folder ? folder : "")
                              : LibdeflateExtract(in, folder ? folder : "");
  close(in);
  return ok ? 0 : 1;
}

// --- The bench --------------------------------------------------------------------------------

// Runs `argv` with its output discarded; returns its CPU seconds, or exits when it fails.
double RunProcess(const std::vector<std::string>& argv) {
  pid_t child = fork();
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
    exit(1);
  }
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

constexpr int kPeers = 3;
const char* const kPeerNames[kPeers] = {"ksdist", "zlib", "libdeflate"};

struct Row {
  std::string label;
  double megabytesPerSecond[kPeers];
};

// Each peer's command for `archive`, extracting into `folder` (empty: test only).
std::vector<std::string> PeerCommand(int peer, const std::string& self, const std::string& ksdist,
                                     const std::string& archive, const std::string& folder) {
  std::vector<std::string> argv;
  if (peer == 0) {
    argv = {ksdist, "unpack", archive};
    if (!folder.empty()) argv.insert(argv.end(), {folder, "--keep-folders"});
  } else {
    argv = {self, peer == 1 ? "--zlib" : "--libdeflate", archive};
    if (!folder.empty()) argv.push_back(folder);
  }
  return argv;
}

// The best of kRounds CPU times of each peer, the peers taking turns; each starts with an empty
// folder.
Row Measure(const std::string& label, double megabytes, const std::string& self,
            const std::string& ksdist, const std::string& archive, const std::string& folder) {
  double best[kPeers] = {1e9, 1e9, 1e9};
  for (int round = 0; round < kRounds; round++) {
    for (int peer = 0; peer < kPeers; peer++) {
      if (!folder.empty()) {
        fs::remove_all(folder);
        fs::create_directories(folder);
      }
      best[peer] =
          std::min(best[peer], RunProcess(PeerCommand(peer, self, ksdist, archive, folder)));
    }
  }
  Row row{label, {}};
  for (int peer = 0; peer < kPeers; peer++) row.megabytesPerSecond[peer] = megabytes / best[peer];
  return row;
}

struct Archive {
  const char* name;
  uint16_t method;
  bool encrypted;
};
constexpr Archive kArchives[] = {
    {"deflated", 8, false}, {"encrypted", 8, true}, {"stored", 0, false}};

std::string ArchivePath(const Archive& archive, const fs::path& folder) {
  return (folder / (std::string(archive.name) + ".zip")).string();
}

// Writes the archive into `folder`; returns the bytes it holds once decoded.
size_t WriteArchive(const Archive& archive, const fs::path& folder) {
  std::vector<ZipEntry> corpus = MakeCorpus(archive.method, archive.encrypted);
  size_t bytes = 0;
  for (const ZipEntry& entry : corpus) bytes += entry.data.size();
  WriteFile(ArchivePath(archive, folder), MakeZip(corpus));
  return bytes;
}

fs::path WorkFolder(const char* fallback) {
  std::string name = "ks-bench-" + std::to_string(getpid());
  return fs::is_directory("/dev/shm") ? fs::path("/dev/shm") / name : fs::path(fallback) / name;
}

}  // namespace

// `extract_bench KSDIST WORK`: the bench, in a folder below WORK (or on /dev/shm).
// `extract_bench --archives FOLDER`: writes the three archives, for a profiler.
int main(int argc, char** argv) {
  if (argc >= 3 && (strcmp(argv[1], "--zlib") == 0 || strcmp(argv[1], "--libdeflate") == 0)) {
    return RunHarness(argv[1], argv[2], argc > 3 ? argv[3] : nullptr);
  }
  if (argc == 3 && strcmp(argv[1], "--archives") == 0) {
    for (const Archive& a : kArchives) WriteArchive(a, argv[2]);
    return 0;
  }
  if (argc != 3) {
    fprintf(stderr, "usage: extract_bench KSDIST WORK\n");
    return 64;
  }
  std::string self = fs::canonical("/proc/self/exe").string();
  std::string ksdist = fs::absolute(argv[1]).string();
  fs::path work = WorkFolder(argv[2]);
  fs::create_directories(work);
  std::vector<Row> rows;
  printf("%-16s %8s %11s %11s %11s   (MB/s, CPU time, best of %d)\n", "archive", "MB", "ksdist",
         "zlib", "libdeflate", kRounds);
  for (const Archive& a : kArchives) {
    double megabytes = double(WriteArchive(a, work)) / 1e6;
    std::string path = ArchivePath(a, work);
    for (bool write : {false, true}) {
      std::string folder = write ? (work / "out").string() : "";
      rows.push_back(Measure(std::string(a.name) + (write ? " write" : " test"), megabytes, self,
                             ksdist, path, folder));
      const Row& row = rows.back();
      printf("%-16s %8.1f %11.1f %11.1f %11.1f\n", row.label.c_str(), megabytes,
             row.megabytesPerSecond[0], row.megabytesPerSecond[1], row.megabytesPerSecond[2]);
      fflush(stdout);
    }
  }
  fs::remove_all(work);
  for (int peer = 1; peer < kPeers; peer++) {
    printf("ratio ksdist/%-10s", kPeerNames[peer]);
    for (const Row& row : rows)
      printf("  %s %.2f", row.label.c_str(),
             row.megabytesPerSecond[0] / row.megabytesPerSecond[peer]);
    printf("\n");
  }
  return 0;
}
