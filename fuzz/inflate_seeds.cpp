// Writes the decoder fuzzer's seed corpus: zlib streams of the sample contents at several
// levels and strategies, each behind the block-size byte the fuzz target expects.
#include <zlib.h>

#include <cstdio>
#include <string>

#include "support/sample_data.h"
#include "unit/inflate/inflate_harness.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using sample_data::Kind;
  int n = 0;
  for (Kind kind : {Kind::kText, Kind::kBinary, Kind::kRandom, Kind::kRun}) {
    for (int level : {0, 1, 6, 9}) {
      for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}) {
        std::vector<uint8_t> data = sample_data::Make(kind, 300 + 700 * (n % 4), n);
        std::vector<uint8_t> stream = inflate_test::ZlibDeflate(data, level, strategy);
        stream.insert(stream.begin(), uint8_t(n % 2 ? 200 : n % 32));
        std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++);
        FILE* file = fopen(path.c_str(), "wb");
        if (!file) return 1;
        fwrite(stream.data(), 1, stream.size(), file);
        fclose(file);
      }
    }
  }
  return 0;
}
