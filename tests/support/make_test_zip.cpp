// Writes an archive with the tests' ZIP writer, so that script tests can hand it to other
// readers:  ks_make_test_zip OUT [--password TEXT | --built-in-password] [--descriptor]
//           [--deflate] [--time HH:MM:SS] NAME=FILE...
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "support/zip_writer.h"
#include "unzip/builtin_password.h"

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int Usage() {
  std::fprintf(stderr,
               "usage: ks_make_test_zip OUT [--password TEXT | --built-in-password] "
               "[--descriptor] [--deflate] [--time HH:MM:SS] NAME=FILE...\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  ZipWriter writer;
  ZipEntry options;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--password" && i + 1 < argc) {
      options.password = argv[++i];
    } else if (arg == "--built-in-password") {
      options.password = kBuiltInPassword;
    } else if (arg == "--descriptor") {
      options.descriptor = Descriptor::kWithSignature;
    } else if (arg == "--deflate") {
      options.method = 8;
    } else if (arg == "--time" && i + 1 < argc) {
      int h, m, s;
      if (std::sscanf(argv[++i], "%d:%d:%d", &h, &m, &s) != 3) return Usage();
      options.dosTime = DosTime(h, m, s);
    } else if (arg.find('=') != std::string::npos) {
      ZipEntry entry = options;
      entry.name = arg.substr(0, arg.find('='));
      entry.data = ReadWhole(arg.substr(arg.find('=') + 1));
      writer.Add(entry);
    } else {
      return Usage();
    }
  }
  std::ofstream out(argv[1], std::ios::binary);
  out << writer.Finish();
  return out ? 0 : 1;
}
