#include "parallel_deflate.h"

#include <libdeflate.h>
#include <sched.h>

#include <memory>
#include <new>

namespace {

struct CompressorRelease {
  void operator()(libdeflate_compressor* compressor) const {
    libdeflate_free_compressor(compressor);
  }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorRelease>;

}  // namespace

// A compressor at the highest level holds a few megabytes of tables: each thread keeps one per
// level it was asked for instead of making one per file.
std::optional<std::string> DeflateWhole(const char* data, size_t size, int level) {
  thread_local Compressor compressors[13];
  Compressor& compressor = compressors[level];
  if (!compressor) compressor.reset(libdeflate_alloc_compressor(level));
  if (!compressor) throw std::bad_alloc();
  if (size == 0) return std::nullopt;
  // Room for one byte less than the input: libdeflate returns 0 when the result would not fit.
  std::string out(size - 1, '\0');
  size_t made = libdeflate_deflate_compress(compressor.get(), data, size, out.data(), out.size());
  if (made == 0) return std::nullopt;
  out.resize(made);
  return out;
}

unsigned UsableCores() {
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
  int count = CPU_COUNT(&cores);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}
