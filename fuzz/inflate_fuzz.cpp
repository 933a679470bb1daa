// Fuzz target for the Deflate decoder alone: the input's first byte picks the input block size
// and whether blocks are revealed as they are read, the rest is one entry's compressed data. The
// byte-wise and the fast path must end the same way, with the same output, block reads and
// window flushes; anything else aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "unit/inflate/inflate_harness.h"
#include "unzip/inflate.h"

using inflate_test::InflateRun;
using inflate_test::RunInflate;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t blockSize = data[0] < 128 ? 1 + data[0] % 32 : inflate_test::kInputBlock;
  std::vector<uint8_t> stream(data + 1, data + size);
  InflateRun plain = RunInflate(stream, {.fast = false, .blockSize = blockSize});
  // Odd first bytes keep each block unreadable until the decoder reveals it, as an encrypted
  // entry's blocks are.
  InflateRun fast =
      RunInflate(stream, {.fast = true, .blockSize = blockSize, .scramble = (data[0] & 1) != 0});
  if (plain.result < 0 || plain.result > 3 || plain.overrun > 5) {
    fprintf(stderr, "result %d after %zu reads past the end\n", plain.result, plain.overrun);
    abort();
  }
  if (fast.result != plain.result || fast.output != plain.output || fast.events != plain.events) {
    fprintf(stderr, "fast path differs: result %d/%d, output %zu/%zu bytes\n", fast.result,
            plain.result, fast.output.size(), plain.output.size());
    abort();
  }
  return 0;
}
