// Writes the job fuzzer's seed corpus with the tests' ZIP writer: stored, deflated and
// encrypted entries, descriptors, streamed entries, folders, UTF-8 names, empty entries.
#include <cstdio>
#include <string>
#include <vector>

#include "support/sample_data.h"
#include "support/zip_writer.h"
#include "unzip/builtin_password.h"

namespace {

std::string Sample(sample_data::Kind kind, size_t size, uint32_t seed) {
  std::vector<uint8_t> data = sample_data::Make(kind, size, seed);
  return {data.begin(), data.end()};
}

ZipEntry Entry(const std::string& name, const std::string& data, uint16_t method,
               bool encrypted = false, Descriptor descriptor = Descriptor::kNone) {
  ZipEntry entry;
  entry.name = name;
  entry.data = data;
  entry.method = method;
  if (encrypted) entry.password = std::string(kBuiltInPassword);
  entry.descriptor = descriptor;
  return entry;
}

// As a writer to a pipe makes it: sizes after the data, a UTF-8 name.
ZipEntry Streamed(const std::string& name, const std::string& data, uint16_t method) {
  ZipEntry entry = Entry(name, data, method);
  entry.streamed = true;
  entry.extraFlags = 0x800;
  return entry;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using sample_data::Kind;
  std::vector<std::vector<ZipEntry>> archives = {
      {},
      {Entry("a.txt", "hello, hello, hello", 0)},
      {Entry("a.txt", Sample(Kind::kText, 3000, 1), 8)},
      {Entry("b.bin", Sample(Kind::kBinary, 5000, 2), 8), Entry("docs/", "", 0),
       Entry("empty", "", 0)},
      {Entry("c.txt", Sample(Kind::kText, 2000, 3), 8, true)},
      {Entry("d.bin", Sample(Kind::kRun, 4000, 4), 0, true),
       Entry("e.txt", Sample(Kind::kText, 1000, 5), 8, false, Descriptor::kWithSignature)},
      {Entry("f.txt", Sample(Kind::kText, 700, 6), 8, false, Descriptor::kWithoutSignature),
       Entry("g.bin", Sample(Kind::kRandom, 300, 7), 8)},
      {Streamed("docs/\xd0\xbf/h.txt", Sample(Kind::kText, 900, 8), 8),
       Streamed("sub/./i.bin", Sample(Kind::kBinary, 400, 9), 0)},
  };
  std::vector<std::string> seeds;
  for (const auto& entries : archives) seeds.push_back(MakeZip(entries));
  // Layouts around the central directory. The comment's last two bytes choose the destination
  // and whether the archive comes through a pipe (job_fuzz.cpp).
  ZipWriter stub;
  stub.AddBytes(std::string("MZ PK\x05\x06") + std::string(18, '\x01') + "PK\x03\x04 code");
  stub.Add(Entry("a.txt", "after a program", 0));
  seeds.push_back(stub.Finish("\x01\x03"));
  std::string inner = MakeZip({Entry("a.txt", "inner", 0)});
  ZipWriter nested;
  nested.Add(Entry("inner.zip", inner + Sample(Kind::kBinary, 9000, 10), 0));
  nested.Add(Streamed("a.txt", "outer", 8));
  seeds.push_back(nested.Finish("\x07\x02") + MakeZip({Entry("b.txt", "second", 0)}));
  for (const char* comment : {"\x08\x03", "\x09\x01"}) {
    ZipWriter folders;
    folders.Add(Entry("x\\y\\z.txt", Sample(Kind::kText, 500, 11), 8));
    seeds.push_back(folders.Finish(comment));
  }
  int n = 0;
  for (const std::string& bytes : seeds) {
    std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++) + ".zip";
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return 1;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
  return 0;
}
