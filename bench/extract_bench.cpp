// Throughput of the extraction engine against zlib, side by side in one run. Three archives
// are generated (a ~40 MB mix of program-like and text files, deflated at level 9; the same
// encrypted with the built-in password; the same stored), and each is unpacked test-only and
// into a temporary folder, by the engine and by a zlib harness that does the same work: read
// the archive in the engine's block size, decrypt where needed, raw inflate, CRC-32, and write
// the files. Times are process CPU times, best of several rounds in which the two take turns,
// so that other work on the machine disturbs them little and both alike; MB/s count decoded
// bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/sample_data.h"
#include "support/zip_writer.h"
#include "unzip/builtin_password.h"
#include "unzip/decrypt.h"
#include "unzip/extraction.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kCorpusBytes = 40u << 20;
constexpr uint32_t kBlock = 28672;  // the engine's input block
constexpr int kRounds = 7;

double CpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// A software-like distribution: many files of a few KB to a few MB, most of them binary.
std::vector<ZipEntry> MakeCorpus(uint16_t method, bool encrypted) {
  std::vector<ZipEntry> entries;
  sample_data::Lcg sizes(40);
  size_t total = 0;
  for (uint32_t n = 0; total < kCorpusBytes; n++) {
    size_t size = 2048u << sizes.Below(11);  // 2 KB .. 2 MB
    size = std::min(size + sizes.Below(4096), kCorpusBytes - total);
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

// --- The zlib harness ---------------------------------------------------------------------

uint16_t Get16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t(Get16(p)) | uint32_t(Get16(p + 2)) << 16;
}

struct PeerStats {
  size_t decoded = 0;
  bool crcOk = true;
};

// Walks the local headers and unpacks each entry with zlib; `folder` empty: test only.
PeerStats ZlibExtract(const std::string& archive, const std::string& folder) {
  PeerStats stats;
  int in = open(archive.c_str(), O_RDONLY);
  std::vector<uint8_t> input(kBlock), output(32768);
  z_stream z{};
  inflateInit2(&z, -15);
  for (;;) {
    uint8_t header[30];
    if (read(in, header, 30) != 30 || Get32(header) != 0x04034b50) break;
    uint16_t flags = Get16(header + 6), method = Get16(header + 8);
    uint32_t crc = Get32(header + 14), left = Get32(header + 18);
    char name[300] = {};
    uint16_t nameLength = Get16(header + 26);
    if (read(in, name, nameLength) != nameLength) break;
    lseek(in, Get16(header + 28), SEEK_CUR);
    if (flags & 1) {
      uint8_t check[12];
      if (read(in, check, 12) != 12) break;
      InitKeys(kBuiltInPassword);
      DecryptBuffer(check, 12);
      left -= 12;
    }
    int out = -1;
    if (!folder.empty()) {
      out = open((folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    uint32_t running = 0;
    inflateReset(&z);
    int status = Z_OK;
    while (left > 0) {
      uint32_t n = left < kBlock ? left : kBlock;
      if (read(in, input.data(), n) != ssize_t(n)) exit(1);
      left -= n;
      if (flags & 1) DecryptBuffer(input.data(), n);
      if (method == 0) {
        running = crc32(running, input.data(), n);
        if (out >= 0 && write(out, input.data(), n) != ssize_t(n)) exit(1);
        stats.decoded += n;
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
        if (out >= 0 && write(out, output.data(), produced) != ssize_t(produced)) exit(1);
        stats.decoded += produced;
        if (status != Z_OK && status != Z_STREAM_END) exit(1);
      }
    }
    if (out >= 0) close(out);
    stats.crcOk = stats.crcOk && running == crc;
  }
  inflateEnd(&z);
  close(in);
  return stats;
}

// --- The engine -----------------------------------------------------------------------------

void EngineExtract(const std::string& archive, const std::string& folder) {
  ExtractionRequest request{};
  request.archivePath = archive.c_str();
  request.destinationFolder = folder.empty() ? nullptr : folder.c_str();
  if (RunExtractionJob(&request) != 1 || request.result != 0) {
    fprintf(stderr, "engine: job failed with %d\n", request.result);
    exit(1);
  }
}

// The best of kRounds CPU times of each of `first` and `second`, run in turns.
std::pair<double, double> BestSeconds(const std::function<void()>& first,
                                      const std::function<void()>& second) {
  double best[2] = {1e9, 1e9};
  for (int round = 0; round < kRounds; round++) {
    for (int side = 0; side < 2; side++) {
      double start = CpuSeconds();
      (side == 0 ? first : second)();
      best[side] = std::min(best[side], CpuSeconds() - start);
    }
  }
  return {best[0], best[1]};
}

struct Row {
  std::string label;
  double engine, zlib;  // MB/s
};

}  // namespace

int main(int argc, char** argv) {
  fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "ks-bench";
  fs::remove_all(work);
  fs::create_directories(work / "out");
  struct Archive {
    const char* name;
    uint16_t method;
    bool encrypted;
  };
  const Archive archives[] = {{"deflated", 8, false}, {"encrypted", 8, true}, {"stored", 0, false}};
  std::vector<Row> rows;
  for (const Archive& a : archives) {
    std::string path = (work / (std::string(a.name) + ".zip")).string();
    WriteFile(path, MakeZip(MakeCorpus(a.method, a.encrypted)));
    PeerStats check = ZlibExtract(path, "");
    if (!check.crcOk) {
      fprintf(stderr, "zlib harness: CRC mismatch in %s\n", a.name);
      return 1;
    }
    double megabytes = double(check.decoded) / 1e6;
    std::string out = (work / "out").string();
    for (bool write : {false, true}) {
      std::string folder = write ? out : "";
      auto [engine, zlib] =
          BestSeconds([&] { EngineExtract(path, folder); }, [&] { ZlibExtract(path, folder); });
      rows.push_back({std::string(a.name) + (write ? " write" : " test"), megabytes / engine,
                      megabytes / zlib});
      printf("%-16s %6.1f MB  engine %7.1f MB/s  zlib %7.1f MB/s\n", rows.back().label.c_str(),
             megabytes, rows.back().engine, rows.back().zlib);
      fflush(stdout);
    }
  }
  fs::remove_all(work);
  printf("ratio engine/zlib:");
  for (const Row& row : rows) printf("  %s %.2f", row.label.c_str(), row.engine / row.zlib);
  printf("\n");
  return 0;
}
