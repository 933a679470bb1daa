// The decoder's failures that are not about the stream's codes: running out of memory for a
// table, and streams that end before their final block does.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

#include "support/sample_data.h"
#include "unit/inflate/bit_writer.h"
#include "unit/inflate/inflate_harness.h"
#include "unzip/inflate.h"

namespace inflate_test {
namespace {

// An allocator that fails from its `failAt`-th call on (counting from 0), and its release,
// which counts the tables given back.
int allocations = 0;
int failAt = -1;
int releases = 0;
void* FailingAllocate(size_t bytes) {
  return failAt >= 0 && allocations++ >= failAt ? nullptr : malloc(bytes);
}
void CountingRelease(void* block) {
  ++releases;
  free(block);
}

struct AllocationFailure {
  explicit AllocationFailure(int at) {
    allocations = releases = 0;
    failAt = at;
    inflateAllocate = FailingAllocate;
    inflateRelease = CountingRelease;
  }
  ~AllocationFailure() {
    inflateAllocate = malloc;
    inflateRelease = free;
  }
};

// How many tables decoding `stream` allocates.
int CountAllocations(const std::vector<uint8_t>& stream) {
  AllocationFailure counting(-1);
  failAt = 1 << 30;
  RunInflate(stream);
  EXPECT_EQ(releases, allocations) << "every table goes back through the release hook";
  return allocations;
}

// A stream with a fixed block and a dynamic block whose distance code needs sub-tables.
std::vector<uint8_t> TwoBlockStream() {
  std::vector<uint8_t> data = sample_data::Make(sample_data::Kind::kBinary, 70000, 3);
  std::vector<uint8_t> dynamic = ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY);
  BitWriter bits;
  bits.Put(0, 1);          // BFINAL clear
  bits.Put(1, 2);          // BTYPE 01: fixed codes
  bits.FixedLiteral('q');  // literal
  bits.FixedLiteral(256);  // end of block
  bits.Put(0, 1);          // BFINAL clear
  bits.Put(0, 2);          // BTYPE 00: stored, to reach a byte boundary
  bits.Align();
  bits.Put(0, 16);       // LEN 0
  bits.Put(0xffff, 16);  // NLEN
  bits.Bytes(dynamic);   // zlib's blocks, the last one final
  return bits.Finish();
}

TEST(OutOfMemoryTest, EveryFailedTableEndsTheStreamWithResult3AndOneLine) {
  std::vector<uint8_t> stream = TwoBlockStream();
  int total = CountAllocations(stream);
  ASSERT_GT(total, 4);
  for (bool fast : {false, true}) {
    for (int at = 0; at < total; at++) {
      SCOPED_TRACE(testing::Message() << "failing allocation " << at << " fast " << fast);
      AllocationFailure failure(at);
      testing::internal::CaptureStderr();
      InflateRun run = RunInflate(stream, {.fast = fast});
      std::string text = testing::internal::GetCapturedStderr();
      EXPECT_EQ(run.result, kInflateNoMemory);
      EXPECT_EQ(text, "\n*** inflate out of memory *** ");
      EXPECT_EQ(releases, at) << "the tables made before the failure are released";
      // Nothing since the last whole window reaches the output.
      EXPECT_EQ(run.output.size() % 32768, 0u);
    }
  }
  // The decoder is whole again afterwards (the sanitized build also sees every table freed).
  EXPECT_EQ(RunInflate(stream).result, kInflateOk);
}

// Truncated at every byte, a stream still ends: with a result, after asking for at most five
// bytes beyond what there is, and with no more output than the whole stream had. Both paths
// end the same way.
TEST(TruncationTest, EveryTruncationEndsWithinTheBound) {
  struct Source {
    sample_data::Kind kind;
    int level;
    int strategy;
  };
  for (Source source : {Source{sample_data::Kind::kText, 9, Z_DEFAULT_STRATEGY},
                        Source{sample_data::Kind::kBinary, 6, Z_FIXED},
                        Source{sample_data::Kind::kRandom, 1, Z_DEFAULT_STRATEGY},
                        Source{sample_data::Kind::kRun, 9, Z_RLE}}) {
    std::vector<uint8_t> original = sample_data::Make(source.kind, 6000, 5);
    std::vector<uint8_t> stream = ZlibDeflate(original, source.level, source.strategy);
    for (size_t size = 0; size < stream.size(); size++) {
      std::vector<uint8_t> cut(stream.begin(), stream.begin() + size);
      for (size_t block : {size_t(7), kInputBlock}) {
        InflateRun plain = RunInflate(cut, {.fast = false, .blockSize = block});
        InflateRun fast = RunInflate(cut, {.fast = true, .blockSize = block});
        SCOPED_TRACE(testing::Message()
                     << sample_data::KindName(source.kind) << " cut at " << size);
        ASSERT_LE(plain.overrun, 5u);
        ASSERT_LE(plain.output.size(), original.size());
        ASSERT_EQ(plain.overrun == 5, plain.result == kInflateBadData && plain.overrun > 4);
        ASSERT_EQ(fast.result, plain.result);
        ASSERT_EQ(fast.events, plain.events);
        ASSERT_TRUE(fast.output == plain.output);
      }
    }
  }
}

// An empty entry's data: the decoder reads the cell's stale byte again and again, and the bound
// ends it.
TEST(TruncationTest, EmptyDataEndsAfterFiveReadsPastTheEnd) {
  RunInflate({0x05});  // leaves 0x05 in the cell: a non-final fixed block, never ending
  InflateRun run = RunInflate({});
  EXPECT_EQ(run.result, kInflateBadData);
  EXPECT_EQ(run.overrun, 5u);
  EXPECT_TRUE(run.output.empty());
}

}  // namespace
}  // namespace inflate_test
