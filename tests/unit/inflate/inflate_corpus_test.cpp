// The decoder against zlib: every stream zlib makes from the sample corpus decodes to the
// original bytes, and the byte-wise path and the fast path agree on everything they do.
#include <gtest/gtest.h>
#include <zlib.h>

#include "support/sample_data.h"
#include "unit/inflate/inflate_harness.h"
#include "unzip/inflate.h"

namespace inflate_test {
namespace {

using sample_data::Kind;

struct Strategy {
  int value;
  const char* name;
};
constexpr Strategy kStrategies[] = {{Z_DEFAULT_STRATEGY, "default"},
                                    {Z_FILTERED, "filtered"},
                                    {Z_HUFFMAN_ONLY, "huffman-only"},
                                    {Z_RLE, "rle"},
                                    {Z_FIXED, "fixed"}};

// Sizes at and around the decoder's and the data path's block sizes.
constexpr size_t kSizes[] = {0,     1,     2,     258,   10240, 28671, 28672,
                             28673, 32767, 32768, 32769, 65536, 100000};

// Decodes `stream` both ways and checks both against `original` and against each other: the
// same result, output, input blocks read and window flushes, in the same order. The fast path
// runs twice: with whole blocks readable, and with each block revealed only as it asks, as an
// encrypted entry's blocks are; and once more into a whole-entry buffer.
void ExpectBothPathsDecode(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& original,
                           size_t blockSize = kInputBlock) {
  InflateRun plain = RunInflate(stream, {.fast = false, .blockSize = blockSize});
  InflateRun fast = RunInflate(stream, {.fast = true, .blockSize = blockSize});
  InflateRun revealed =
      RunInflate(stream, {.fast = true, .blockSize = blockSize, .scramble = true});
  ASSERT_EQ(revealed.result, fast.result);
  ASSERT_TRUE(revealed.output == fast.output);
  ASSERT_EQ(revealed.events, fast.events);
  ASSERT_EQ(plain.result, kInflateOk);
  ASSERT_EQ(plain.output.size(), original.size());
  ASSERT_TRUE(plain.output == original);
  ASSERT_EQ(crc32(0, plain.output.data(), plain.output.size()),
            crc32(0, original.data(), original.size()));
  ASSERT_EQ(fast.result, plain.result);
  ASSERT_TRUE(fast.output == plain.output);
  ASSERT_EQ(fast.events, plain.events);
  if (kWholeEntryWindows) {  // ksdist's whole-entry buffer, just large enough
    InflateRun whole =
        RunInflate(stream, {.blockSize = blockSize, .wholeEntryRoom = original.size() + 1});
    ASSERT_EQ(whole.result, kInflateOk);
    ASSERT_TRUE(whole.output == original);
    ASSERT_EQ(WithoutFlushes(whole.events), WithoutFlushes(plain.events));
  }
  // A valid stream is never read more than one byte past its end.
  ASSERT_LE(plain.overrun, 1u);
}

class CorpusTest : public testing::TestWithParam<Kind> {};

TEST_P(CorpusTest, EveryLevelAndStrategyDecodesIdentically) {
  for (size_t size : kSizes) {
    std::vector<uint8_t> original = sample_data::Make(GetParam(), size, uint32_t(size));
    for (int level = 0; level <= 9; level++) {
      for (const Strategy& strategy : kStrategies) {
        SCOPED_TRACE(testing::Message()
                     << "size " << size << " level " << level << " strategy " << strategy.name);
        ExpectBothPathsDecode(ZlibDeflate(original, level, strategy.value), original);
        if (HasFatalFailure()) return;
      }
    }
  }
}

// Small input blocks move the fast path's hand-overs to the byte-wise path to every position
// within a symbol; the blocks are read at the same moments either way.
TEST_P(CorpusTest, SmallInputBlocksReadAtTheSameMoments) {
  std::vector<uint8_t> original = sample_data::Make(GetParam(), 40000, 7);
  for (int level : {1, 6, 9}) {
    std::vector<uint8_t> stream = ZlibDeflate(original, level, Z_DEFAULT_STRATEGY);
    for (size_t blockSize : {1, 7, 8, 9, 15, 16, 17, 4095}) {
      SCOPED_TRACE(testing::Message() << "level " << level << " block " << blockSize);
      ExpectBothPathsDecode(stream, original, blockSize);
      if (HasFatalFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, CorpusTest,
                         testing::Values(Kind::kText, Kind::kBinary, Kind::kRandom, Kind::kRun),
                         [](const testing::TestParamInfo<Kind>& info) {
                           return std::string(sample_data::KindName(info.param));
                         });

// Several entries in a row: the window is not cleared between them, and each entry decodes on
// its own all the same.
TEST(CorpusTest, ConsecutiveEntriesShareTheWindowWithoutHarm) {
  for (bool fast : {false, true}) {
    for (uint32_t seed = 1; seed <= 4; seed++) {
      std::vector<uint8_t> original = sample_data::Make(Kind::kBinary, 50000 + seed * 999, seed);
      InflateRun run = RunInflate(ZlibDeflate(original, 9, Z_DEFAULT_STRATEGY),
                                  {.fast = fast, .clearWindow = seed == 1});
      ASSERT_EQ(run.result, kInflateOk);
      ASSERT_TRUE(run.output == original) << "seed " << seed << " fast " << fast;
    }
  }
}

}  // namespace
}  // namespace inflate_test
