// Hand-built Deflate streams for the decoder's edge cases, one field per line. Each stream is
// decoded through the byte-wise and the fast path, which must agree on everything.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <string>

#include "unit/inflate/bit_writer.h"
#include "unit/inflate/inflate_harness.h"
#include "unzip/inflate.h"

namespace inflate_test {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// Decodes both ways, checks that the two agree, and returns the byte-wise run. Where ksdist's
// decoder takes a whole entry's buffer, the fast path also decodes into one, with the window as
// its history: the same result, output and reads, with one flush at the end.
InflateRun Decode(const std::vector<uint8_t>& stream, bool clearWindow = true) {
  std::vector<uint8_t> saved(HarnessWindow(), HarnessWindow() + 32768);
  InflateRun plain = RunInflate(stream, {.fast = false, .clearWindow = clearWindow});
  memcpy(HarnessWindow(), saved.data(), saved.size());
  InflateRun fast = RunInflate(stream, {.fast = true, .clearWindow = clearWindow});
  EXPECT_EQ(fast.result, plain.result);
  EXPECT_TRUE(fast.output == plain.output);
  EXPECT_EQ(fast.events, plain.events);
  if (kWholeEntryWindows) {
    std::vector<uint8_t> after(HarnessWindow(), HarnessWindow() + 32768);
    memcpy(HarnessWindow(), saved.data(), saved.size());
    InflateRun whole = RunInflate(
        stream, {.clearWindow = clearWindow, .wholeEntryRoom = plain.output.size() + (1 << 20)});
    EXPECT_EQ(whole.result, plain.result);
    if (plain.result == kInflateOk) {
      EXPECT_TRUE(whole.output == plain.output);
    }
    EXPECT_EQ(WithoutFlushes(whole.events), WithoutFlushes(plain.events));
    memcpy(HarnessWindow(), after.data(), after.size());
  }
  return plain;
}

// The literal/length code that most dynamic cases use: 'A' (1 bit), end of block and length
// symbol 257, a match of three (2 bits each).
std::vector<unsigned> SmallLiteralLengths() {
  return Lengths(258, {{'A', 1}, {256, 2}, {257, 2}});
}

// Writes a dynamic block header and its code lengths, each length as its own code-length symbol
// (no repeat codes), with a code-length code of 16 four-bit codes for the lengths 0 to 15.
void PutPlainDynamicHeader(BitWriter& bits, bool final, const std::vector<unsigned>& literal,
                           const std::vector<unsigned>& distance) {
  HuffmanCode lengthCode(Lengths(19, {{0, 4},
                                      {1, 4},
                                      {2, 4},
                                      {3, 4},
                                      {4, 4},
                                      {5, 4},
                                      {6, 4},
                                      {7, 4},
                                      {8, 4},
                                      {9, 4},
                                      {10, 4},
                                      {11, 4},
                                      {12, 4},
                                      {13, 4},
                                      {14, 4},
                                      {15, 4}}));
  bits.Put(final, 1);                                   // BFINAL
  bits.Put(2, 2);                                       // BTYPE 10: dynamic codes
  bits.Put(unsigned(literal.size()) - 257, 5);          // HLIT
  bits.Put(unsigned(distance.size()) - 1, 5);           // HDIST
  bits.Put(19 - 4, 4);                                  // HCLEN: all 19 code-length lengths
  PutCodeLengthLengths(bits, lengthCode, 19);           // 3 bits each, in RFC order
  for (unsigned l : literal) lengthCode.Put(bits, l);   // literal/length code lengths
  for (unsigned l : distance) lengthCode.Put(bits, l);  // distance code lengths
}

struct Case {
  const char* name;
  std::function<std::vector<uint8_t>()> stream;
  int result;
  std::string output;  // checked when result is 0
};

const Case kCases[] = {
    {"StoredBlockOfLengthZero",
     [] {
       BitWriter bits;
       bits.Put(1, 1);        // BFINAL
       bits.Put(0, 2);        // BTYPE 00: stored
       bits.Align();          // stored data starts at a byte boundary
       bits.Put(0x0000, 16);  // LEN
       bits.Put(0xffff, 16);  // NLEN, the complement
       return bits.Finish();
     },
     kInflateOk, ""},
    {"StoredBlockWithWrongComplement",
     [] {
       BitWriter bits;
       bits.Put(1, 1);  // BFINAL
       bits.Put(0, 2);  // BTYPE 00: stored
       bits.Align();
       bits.Put(0x0003, 16);  // LEN
       bits.Put(0xfffd, 16);  // NLEN, one off the complement 0xfffc
       bits.Bytes(Bytes("abc"));
       return bits.Finish();
     },
     kInflateBadData, ""},
    {"BlockTypeThree",
     [] {
       BitWriter bits;
       bits.Put(1, 1);  // BFINAL
       bits.Put(3, 2);  // BTYPE 11: reserved
       return bits.Finish();
     },
     kInflateBadBlock, ""},
    {"FixedLiteralSymbol286",
     [] {
       BitWriter bits;
       bits.Put(1, 1);          // BFINAL
       bits.Put(1, 2);          // BTYPE 01: fixed codes
       bits.FixedLiteral('a');  // a literal first
       bits.FixedLiteral(286);  // not a valid symbol
       bits.FixedLiteral(256);  // end of block, never reached
       return bits.Finish();
     },
     kInflateBadData, ""},
    {"FixedLiteralSymbol287",
     [] {
       BitWriter bits;
       bits.Put(1, 1);          // BFINAL
       bits.Put(1, 2);          // BTYPE 01: fixed codes
       bits.FixedLiteral(287);  // not a valid symbol
       return bits.Finish();
     },
     kInflateBadData, ""},
    {"FixedDistanceSymbol30",
     [] {
       BitWriter bits;
       bits.Put(1, 1);          // BFINAL
       bits.Put(1, 2);          // BTYPE 01: fixed codes
       bits.FixedLiteral('a');  // literal
       bits.FixedLiteral(257);  // length 3
       bits.FixedDistance(30);  // not a valid distance symbol
       bits.FixedLiteral(256);  // end of block, never reached
       return bits.Finish();
     },
     kInflateBadData, ""},
    {"FixedDistanceSymbol31",
     [] {
       BitWriter bits;
       bits.Put(1, 1);          // BFINAL
       bits.Put(1, 2);          // BTYPE 01: fixed codes
       bits.FixedLiteral('a');  // literal
       bits.FixedLiteral(257);  // length 3
       bits.FixedDistance(31);  // not a valid distance symbol
       return bits.Finish();
     },
     kInflateBadData, ""},
    {"DistanceOneLength258RepeatsTheLastByte",
     [] {
       BitWriter bits;
       bits.Put(1, 1);          // BFINAL
       bits.Put(1, 2);          // BTYPE 01: fixed codes
       bits.FixedLiteral('x');  // literal
       bits.FixedLiteral(285);  // length 258, no extra bits
       bits.FixedDistance(0);   // distance 1
       bits.FixedLiteral(256);  // end of block
       return bits.Finish();
     },
     kInflateOk, std::string(259, 'x')},
    {"StoredBlockAfterACompressedOneStartsAtTheByteBoundary",
     [] {
       BitWriter bits;
       bits.Put(0, 1);            // BFINAL clear
       bits.Put(1, 2);            // BTYPE 01: fixed codes
       bits.FixedLiteral('a');    // literal
       bits.FixedLiteral(256);    // end of block: 18 bits so far
       bits.Put(1, 1);            // BFINAL
       bits.Put(0, 2);            // BTYPE 00: stored
       bits.Align();              // skip to the byte boundary
       bits.Put(3, 16);           // LEN
       bits.Put(0xfffc, 16);      // NLEN
       bits.Bytes(Bytes("bcd"));  // the data
       return bits.Finish();
     },
     kInflateOk, "abcd"},
    {"RepeatCodeFirstRepeatsZeroAndOneDistanceCodeOfLengthOne",
     [] {
       // Code-length code: 1, 2, 16 and 18, two bits each.
       HuffmanCode lengthCode(Lengths(19, {{1, 2}, {2, 2}, {16, 2}, {18, 2}}));
       HuffmanCode literal(SmallLiteralLengths());
       HuffmanCode distance(Lengths(1, {{0, 1}}));
       BitWriter bits;
       bits.Put(1, 1);          // BFINAL
       bits.Put(2, 2);          // BTYPE 10: dynamic codes
       bits.Put(258 - 257, 5);  // HLIT: 258
       bits.Put(1 - 1, 5);      // HDIST: 1
       bits.Put(18 - 4, 4);     // HCLEN: 18, up to symbol 1's length
       PutCodeLengthLengths(bits, lengthCode, 18);
       lengthCode.Put(bits, 16);
       bits.Put(0, 2);  // 16 first: 3 lengths of 0 (symbols 0-2)
       lengthCode.Put(bits, 18);
       bits.Put(51, 7);          // 62 zeros (3-64)
       lengthCode.Put(bits, 1);  // 'A' (65): 1 bit
       lengthCode.Put(bits, 18);
       bits.Put(127, 7);  // 138 zeros (66-203)
       lengthCode.Put(bits, 18);
       bits.Put(41, 7);          // 52 zeros (204-255)
       lengthCode.Put(bits, 2);  // end of block: 2 bits
       lengthCode.Put(bits, 2);  // 257, length 3: 2 bits
       lengthCode.Put(bits, 1);  // the one distance code: 1 bit
       literal.Put(bits, 'A');   // literal A
       literal.Put(bits, 257);   // length 3
       distance.Put(bits, 0);    // distance 1
       literal.Put(bits, 256);   // end of block
       return bits.Finish();
     },
     kInflateOk, "AAAA"},
    {"OneDistanceCodeOfLengthOneUsedWithItsFreePattern",
     [] {
       BitWriter bits;
       PutPlainDynamicHeader(bits, true, SmallLiteralLengths(), Lengths(1, {{0, 1}}));
       HuffmanCode literal(SmallLiteralLengths());
       literal.Put(bits, 'A');  // literal A
       literal.Put(bits, 257);  // length 3
       bits.PutCode(1, 1);      // the distance pattern no code has
       literal.Put(bits, 256);  // end of block, never reached
       return bits.Finish();
     },
     kInflateBadData, ""},
    {"RepeatRunningPastTheLengths",
     [] {
       HuffmanCode lengthCode(Lengths(19, {{1, 2}, {2, 2}, {16, 2}, {18, 2}}));
       BitWriter bits;
       bits.Put(1, 1);          // BFINAL
       bits.Put(2, 2);          // BTYPE 10: dynamic codes
       bits.Put(258 - 257, 5);  // HLIT: 258
       bits.Put(1 - 1, 5);      // HDIST: 1 (259 lengths in all)
       bits.Put(18 - 4, 4);     // HCLEN: 18
       PutCodeLengthLengths(bits, lengthCode, 18);
       lengthCode.Put(bits, 18);
       bits.Put(127, 7);  // 138 zeros (0-137)
       lengthCode.Put(bits, 18);
       bits.Put(110, 7);  // 121 zeros (138-258): all 259
       lengthCode.Put(bits, 16);
       bits.Put(0, 2);  // 3 more: past the end
       return bits.Finish();
     },
     kInflateBadData, ""},
    {"CodeLengthCodeWithoutCodes",
     [] {
       // No code-length code at all: reading the first length looks up an empty table.
       BitWriter bits;
       bits.Put(1, 1);        // BFINAL
       bits.Put(2, 2);        // BTYPE 10: dynamic codes
       bits.Put(0, 5);        // HLIT: 257
       bits.Put(0, 5);        // HDIST: 1
       bits.Put(0, 4);        // HCLEN: 4 (symbols 16, 17, 18, 0)
       bits.Put(0, 3);        // symbol 16: unused
       bits.Put(0, 3);        // symbol 17: unused
       bits.Put(0, 3);        // symbol 18: unused
       bits.Put(0, 3);        // symbol 0: unused
       return bits.Finish();  // all 19 lengths 0: no code at all
     },
     kInflateBadData, ""},
    {"IncompleteLiteralLengthCode",
     [] {
       BitWriter bits;
       // 'A' 1 bit and end of block 2 bits leave the pattern 11 unassigned.
       PutPlainDynamicHeader(bits, true, Lengths(258, {{'A', 1}, {256, 2}}), Lengths(1, {{0, 1}}));
       return bits.Finish();
     },
     kInflateBadData, ""},
    {"OverSubscribedLiteralLengthCode",
     [] {
       BitWriter bits;
       // Three codes of one bit.
       PutPlainDynamicHeader(bits, true, Lengths(258, {{'A', 1}, {256, 1}, {257, 1}}),
                             Lengths(1, {{0, 1}}));
       return bits.Finish();
     },
     kInflateBadBlock, ""},
    {"OverSubscribedDistanceCode",
     [] {
       BitWriter bits;
       PutPlainDynamicHeader(bits, true, SmallLiteralLengths(),
                             Lengths(3, {{0, 1}, {1, 1}, {2, 1}}));
       return bits.Finish();
     },
     kInflateBadBlock, ""},
};

class BitstreamTest : public testing::TestWithParam<Case> {};

TEST_P(BitstreamTest, DecodesAsExpected) {
  const Case& c = GetParam();
  InflateRun run = Decode(c.stream());
  EXPECT_EQ(run.result, c.result);
  if (c.result == kInflateOk) {
    EXPECT_EQ(std::string(run.output.begin(), run.output.end()), c.output);
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, BitstreamTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// More literal/length codes than 286 or more distance codes than 30: refused right after the
// three counts, before any code length is read.
TEST(BitstreamTest, CountsBeyondTheAlphabetsAreRefused) {
  struct Counts {
    unsigned literals, distances;
  };
  for (Counts counts : {Counts{287, 1}, Counts{288, 1}, Counts{257, 31}, Counts{257, 32}}) {
    BitWriter bits;
    bits.Put(1, 1);                      // BFINAL
    bits.Put(2, 2);                      // BTYPE 10: dynamic codes
    bits.Put(counts.literals - 257, 5);  // HLIT
    bits.Put(counts.distances - 1, 5);   // HDIST
    bits.Put(15, 4);                     // HCLEN: 19
    InflateRun run = Decode(bits.Finish());
    EXPECT_EQ(run.result, kInflateBadData) << counts.literals << " " << counts.distances;
    EXPECT_EQ(run.bytesTaken, 3u) << "nothing read past the counts";
  }
}

// A code-length code of one one-bit code, symbol 8: both bit patterns read as 8.
TEST(BitstreamTest, CodeLengthCodeOfOneCodeIsAccepted) {
  BitWriter bits;
  bits.Put(1, 1);                                        // BFINAL
  bits.Put(2, 2);                                        // BTYPE 10: dynamic codes
  bits.Put(0, 5);                                        // HLIT: 257
  bits.Put(0, 5);                                        // HDIST: 1
  bits.Put(1, 4);                                        // HCLEN: 5 (symbols 16, 17, 18, 0, 8)
  bits.Put(0, 3);                                        // symbol 16: unused
  bits.Put(0, 3);                                        // symbol 17: unused
  bits.Put(0, 3);                                        // symbol 18: unused
  bits.Put(0, 3);                                        // symbol 0: unused
  bits.Put(1, 3);                                        // symbol 8: the one code, 1 bit
  for (int i = 0; i < 258; i++) bits.PutCode(i % 2, 1);  // 258 lengths of 8, either pattern
  // 257 literal/length codes of 8 bits do not fit in 256 patterns: over-subscribed. Had the
  // code-length code been refused as incomplete, the result would be 1.
  EXPECT_EQ(Decode(bits.Finish()).result, kInflateBadBlock);
}

// A match that crosses the window's end is split there: the window is flushed full and the
// rest of the match goes on from position 0.
TEST(BitstreamTest, MatchAcrossTheWindowEnd) {
  std::vector<uint8_t> prefix(32760);
  for (size_t i = 0; i < prefix.size(); i++) prefix[i] = uint8_t(i * 7 + i / 251);
  BitWriter bits;
  bits.Put(0, 1);  // BFINAL clear
  bits.Put(0, 2);  // BTYPE 00: stored
  bits.Align();
  bits.Put(32760, 16);           // LEN
  bits.Put(32760 ^ 0xffff, 16);  // NLEN
  bits.Bytes(prefix);            // 32,760 bytes of data
  bits.Put(1, 1);                // BFINAL
  bits.Put(1, 2);                // BTYPE 01: fixed codes
  bits.FixedLiteral(269);        // length 19 + 2 extra bits
  bits.Put(1, 2);                //   = 20
  bits.FixedDistance(13);        // distance 97 + 5 extra bits
  bits.Put(3, 5);                //   = 100
  bits.FixedLiteral(256);        // end of block
  InflateRun run = Decode(bits.Finish());
  ASSERT_EQ(run.result, kInflateOk);
  std::vector<uint8_t> expected = prefix;
  for (int i = 0; i < 20; i++) expected.push_back(expected[expected.size() - 100]);
  EXPECT_TRUE(run.output == expected);
  EXPECT_EQ(run.events, (std::vector<std::string>{"r28672", "r4097", "f32768", "f12"}));
}

// Output that ends exactly at the window's end: flushed as it filled, then a flush of nothing.
TEST(BitstreamTest, OutputOfWholeWindowsEndsWithAnEmptyFlush) {
  std::vector<uint8_t> data(65536, 'z');
  std::vector<uint8_t> stream;
  for (int block = 0; block < 2; block++) {
    BitWriter bits;
    bits.Put(block == 1, 1);  // BFINAL on the second block
    bits.Put(0, 2);           // BTYPE 00: stored
    bits.Align();
    bits.Put(32768, 16);           // LEN
    bits.Put(32768 ^ 0xffff, 16);  // NLEN
    bits.Bytes(std::vector<uint8_t>(data.begin(), data.begin() + 32768));
    std::vector<uint8_t> part = bits.Finish();
    stream.insert(stream.end(), part.begin(), part.end());
  }
  InflateRun run = Decode(stream, true);
  ASSERT_EQ(run.result, kInflateOk);
  EXPECT_TRUE(run.output == data);
  EXPECT_EQ(run.events,
            (std::vector<std::string>{"r28672", "r28672", "f32768", "r8202", "f32768", "f0"}));
}

// A distance reaching before the entry's first byte copies what the window holds there: here
// the end of an earlier entry.
TEST(BitstreamTest, DistanceBeforeTheFirstByteCopiesTheWindowsEarlierContent) {
  for (int i = 0; i < 32768; i++) HarnessWindow()[i] = uint8_t(i % 253);
  BitWriter bits;
  bits.Put(1, 1);          // BFINAL
  bits.Put(1, 2);          // BTYPE 01: fixed codes
  bits.FixedLiteral(264);  // length 10
  bits.FixedDistance(13);  // distance 97 + 5 extra bits
  bits.Put(3, 5);          //   = 100
  bits.FixedLiteral(256);  // end of block
  InflateRun run = Decode(bits.Finish(), false);
  ASSERT_EQ(run.result, kInflateOk);
  std::vector<uint8_t> expected;
  for (int i = 32668; i < 32678; i++) expected.push_back(uint8_t(i % 253));
  EXPECT_TRUE(run.output == expected);
}

// The fast loop copies short matches in whole chunks of sixteen and puts back the window's
// older content that the chunks overran. A match with a distance of nearly the whole window,
// right after a short one, reads exactly those bytes.
TEST(BitstreamTest, ALongDistanceReadsWhatAShortCopyRanPast) {
  for (int i = 0; i < 32768; i++) HarnessWindow()[i] = uint8_t(i % 251);
  BitWriter bits;
  bits.Put(1, 1);                                           // BFINAL
  bits.Put(1, 2);                                           // BTYPE 01: fixed codes
  for (int i = 0; i < 16; i++) bits.FixedLiteral('a' + i);  // 16 literals
  bits.FixedLiteral(257);                                   // length 3
  bits.FixedDistance(6);                                    // distance 9 + 2 extra bits
  bits.Put(0, 2);                                           //   = 9: output 19 bytes long now
  bits.FixedLiteral(264);                                   // length 10
  bits.FixedDistance(29);                                   // distance 24577 + 13 extra bits
  bits.Put(8188, 13);                                       //   = 32765: from window position 22
  for (int i = 0; i < 40; i++) bits.FixedLiteral('z');      // enough input for the fast loop
  bits.FixedLiteral(256);                                   // end of block
  InflateRun run = Decode(bits.Finish(), false);
  ASSERT_EQ(run.result, kInflateOk);
  std::vector<uint8_t> expected;
  for (int i = 0; i < 16; i++) expected.push_back(uint8_t('a' + i));
  for (int i = 0; i < 3; i++) expected.push_back(expected[expected.size() - 9]);
  for (int i = 22; i < 32; i++) expected.push_back(uint8_t(i % 251));
  expected.insert(expected.end(), 40, 'z');
  EXPECT_TRUE(run.output == expected);
}

// Streams for the fast loop's own paths, in one dynamic block whose literals have 3-bit codes
// (so that two fit in one table look-up) and whose distances reach 1 to 12 and the whole
// window. Each script is decoded over a window that holds an earlier entry's bytes, and is
// followed by enough literals that the fast loop, which stops short of the input's end, runs
// through all of it.
struct Op {
  unsigned length;  // 0: a literal
  unsigned value;   // the literal, or the distance
};

struct FastLoopCase {
  const char* name;
  std::vector<Op> script;
};

std::vector<Op> Literals(const char* text) {
  std::vector<Op> ops;
  for (const char* c = text; *c; c++) ops.push_back({0, uint8_t(*c)});
  return ops;
}

std::vector<Op> Join(std::initializer_list<std::vector<Op>> parts) {
  std::vector<Op> ops;
  for (const std::vector<Op>& part : parts) ops.insert(ops.end(), part.begin(), part.end());
  return ops;
}

const FastLoopCase kFastLoopCases[] = {
    // A single literal stores two bytes; the second is the window's older content, which a
    // distance of the whole window reads at once.
    {"WholeWindowDistanceAfterOneLiteral", Join({Literals("ABC"), {{10, 32768}, {3, 32768}}})},
    {"WholeWindowDistanceAfterTwoLiterals", Join({Literals("AB"), {{10, 32768}}})},
    {"NearlyWholeWindowDistanceAfterAMatch", {{0, 'A'}, {11, 4}, {19, 32761}, {12, 32767}}},
    {"ShortDistances",
     Join({Literals("ABCDBCDA"),
           {{3, 1}, {10, 2}, {13, 3}, {19, 4}, {11, 5}, {14, 6}, {22, 7}, {12, 8}, {258, 3}},
           {{258, 1}, {258, 2}, {258, 4}, {20, 9}, {3, 12}}})},
    // At position 0 the source of a distance of 9 is the previous lap's last 9 bytes, and the
    // rest of the match repeats what its start has just written.
    {"SourceAcrossTheWindowEnd", {{22, 9}, {13, 3}, {258, 24600}, {258, 32768}}},
    // 127 matches of 258 bring the output to 32,767: the next ones cross the window's end.
    {"MatchesAcrossTheWindowEnd",
     Join({Literals("A"), std::vector<Op>(127, Op{258, 4}), {{19, 5}, {258, 1}, {10, 32768}}})},
};

void PrintTo(const FastLoopCase& c, std::ostream* os) {
  *os << c.name;
}

class FastLoopTest : public testing::TestWithParam<FastLoopCase> {};

TEST_P(FastLoopTest, DecodesLikeTheByteWisePath) {
  HuffmanCode literal(Lengths(286, {{'A', 3},
                                    {'B', 3},
                                    {'C', 3},
                                    {'D', 3},
                                    {256, 3},
                                    {257, 4},
                                    {264, 4},
                                    {265, 4},
                                    {266, 4},
                                    {269, 4},
                                    {285, 4}}));
  HuffmanCode distance(
      Lengths(30, {{0, 3}, {1, 3}, {2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}, {29, 3}}));
  struct Length {
    unsigned symbol, base, extraBits;
  };
  const Length kLengths[] = {{257, 3, 0},  {264, 10, 0}, {265, 11, 1},
                             {266, 13, 1}, {269, 19, 2}, {285, 258, 0}};
  struct Distance {
    unsigned symbol, base, extraBits;
  };
  const Distance kDistances[] = {{0, 1, 0}, {1, 2, 0}, {2, 3, 0}, {3, 4, 0},
                                 {4, 5, 1}, {5, 7, 1}, {6, 9, 2}, {29, 24577, 13}};
  std::vector<uint8_t> window(32768);
  for (size_t i = 0; i < window.size(); i++) window[i] = uint8_t(i * 29 + i / 256);
  memcpy(HarnessWindow(), window.data(), window.size());

  BitWriter bits;
  PutPlainDynamicHeader(bits, true, literal.lengths(), distance.lengths());
  std::vector<uint8_t> expected;
  size_t pos = 0;  // where the next byte goes in the window
  auto put = [&](uint8_t byte) {
    expected.push_back(byte);
    window[pos++ % 32768] = byte;
  };
  std::vector<Op> script = GetParam().script;
  for (int i = 0; i < 64; i++) script.push_back({0, uint8_t("ABCD"[i % 4])});
  for (const Op& op : script) {
    if (op.length == 0) {
      literal.Put(bits, op.value);  // literal
      put(uint8_t(op.value));
      continue;
    }
    const Length* l = kLengths;
    while (!(op.length >= l->base && op.length < l->base + (1u << l->extraBits))) l++;
    literal.Put(bits, l->symbol);                 // length symbol
    bits.Put(op.length - l->base, l->extraBits);  //   and its extra bits
    const Distance* d = kDistances;
    while (!(op.value >= d->base && op.value < d->base + (1u << d->extraBits))) d++;
    distance.Put(bits, d->symbol);               // distance symbol
    bits.Put(op.value - d->base, d->extraBits);  //   and its extra bits
    for (unsigned k = 0; k < op.length; k++) put(window[(pos + 32768 - op.value) % 32768]);
  }
  literal.Put(bits, 256);  // end of block
  InflateRun run = Decode(bits.Finish(), false);
  ASSERT_EQ(run.result, kInflateOk);
  EXPECT_TRUE(run.output == expected);
}

INSTANTIATE_TEST_SUITE_P(Scripts, FastLoopTest, testing::ValuesIn(kFastLoopCases),
                         [](const testing::TestParamInfo<FastLoopCase>& info) {
                           return info.param.name;
                         });

// Distance codes up to 15 bits need tables three levels deep under a six-bit first level.
// Every distance symbol 0..15 is used once, with lengths 1, 2, ..., 14, 15, 15.
TEST(BitstreamTest, LongDistanceCodesDecodeThroughSubTables) {
  std::vector<unsigned> distanceLengths(16);
  for (unsigned s = 0; s < 16; s++) distanceLengths[s] = s < 15 ? s + 1 : 15;
  HuffmanCode literal(SmallLiteralLengths());
  HuffmanCode distance(distanceLengths);
  static const unsigned kBase[16] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193};
  static const unsigned kExtra[16] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6};
  for (int i = 0; i < 32768; i++) HarnessWindow()[i] = uint8_t(i * 13 % 241);
  BitWriter bits;
  PutPlainDynamicHeader(bits, true, SmallLiteralLengths(), distanceLengths);
  std::vector<uint8_t> expected;
  auto at = [&](long position) {  // output so far, or the window before it
    return position >= 0 ? expected[position] : uint8_t((32768 + position) * 13 % 241);
  };
  for (unsigned s = 0; s < 16; s++) {
    literal.Put(bits, 'A');  // literal A
    expected.push_back('A');
    literal.Put(bits, 257);  // length 3
    distance.Put(bits, s);   // distance symbol s
    bits.Put(1, kExtra[s]);  // extra bits: 1 when there are any
    unsigned d = kBase[s] + (kExtra[s] ? 1 : 0);
    for (int k = 0; k < 3; k++) expected.push_back(at(long(expected.size()) - long(d)));
  }
  literal.Put(bits, 256);  // end of block
  InflateRun run = Decode(bits.Finish(), false);
  ASSERT_EQ(run.result, kInflateOk);
  EXPECT_TRUE(run.output == expected);
}

// Streams that the fast loop itself decodes to their failure or through its look-ups in the
// decode tables: each is followed by at least 16 more bytes, so that the loop, which stops short
// of the input's end, is still running where it matters.
struct FastLoopStream {
  const char* name;
  std::function<void(BitWriter&)> write;
  int result;
};

void PutFixedFiller(BitWriter& bits) {
  for (int i = 0; i < 40; i++) bits.FixedLiteral('z');  // 40 bytes' worth of literals
}

// A literal/length code whose literals 'a' + i have codes of i + 1 bits (up to 15), with end of
// block and length 3 (symbol 257) in the two longest; distances up to 15 bits the same way.
std::vector<unsigned> LongLiteralLengths() {
  std::vector<unsigned> lengths(258);
  for (unsigned i = 0; i < 14; i++) lengths['a' + i] = i + 1;
  lengths[256] = lengths[257] = 15;
  return lengths;
}

std::vector<unsigned> LongDistanceLengths() {
  std::vector<unsigned> lengths(16);
  for (unsigned s = 0; s < 16; s++) lengths[s] = s < 15 ? s + 1 : 15;
  return lengths;
}

const FastLoopStream kFastLoopStreams[] = {
    {"InvalidLiteralSymbol",
     [](BitWriter& bits) {
       bits.Put(1, 1);  // BFINAL
       bits.Put(1, 2);  // BTYPE 01: fixed codes
       PutFixedFiller(bits);
       bits.FixedLiteral(287);  // not a valid symbol
       PutFixedFiller(bits);
     },
     kInflateBadData},
    {"InvalidDistanceSymbol",
     [](BitWriter& bits) {
       bits.Put(1, 1);  // BFINAL
       bits.Put(1, 2);  // BTYPE 01: fixed codes
       PutFixedFiller(bits);
       bits.FixedLiteral(257);  // length 3
       bits.FixedDistance(31);  // not a valid distance
       PutFixedFiller(bits);
     },
     kInflateBadData},
    {"LengthInABlockWithoutDistances",
     [](BitWriter& bits) {
       PutPlainDynamicHeader(bits, true, SmallLiteralLengths(), {0});
       HuffmanCode literal(SmallLiteralLengths());
       for (int i = 0; i < 200; i++) literal.Put(bits, 'A');  // literal A, 1 bit
       literal.Put(bits, 257);                                // length 3, with no distance code
       for (int i = 0; i < 200; i++) literal.Put(bits, 'A');
     },
     kInflateBadData},
    {"UnassignedDistancePattern",
     [](BitWriter& bits) {
       PutPlainDynamicHeader(bits, true, SmallLiteralLengths(), {1});  // one distance code: 0
       HuffmanCode literal(SmallLiteralLengths());
       for (int i = 0; i < 200; i++) literal.Put(bits, 'A');  // literal A, 1 bit
       literal.Put(bits, 257);                                // length 3
       bits.PutCode(1, 1);                                    // distance pattern 1: unassigned
       for (int i = 0; i < 200; i++) literal.Put(bits, 'A');
     },
     kInflateBadData},
    {"LiteralsOfUpTo15Bits",
     [](BitWriter& bits) {
       PutPlainDynamicHeader(bits, true, LongLiteralLengths(), LongDistanceLengths());
       HuffmanCode literal(LongLiteralLengths());
       HuffmanCode distance(LongDistanceLengths());
       for (unsigned i = 0; i < 14; i++) literal.Put(bits, 'a' + 13 - i);  // longest first
       literal.Put(bits, 257);  // length 3, a 15-bit code
       distance.Put(bits, 15);  // distance 193 + extra, a 15-bit code
       bits.Put(63, 6);         //   extra bits: 256
       for (int i = 0; i < 200; i++) literal.Put(bits, 'a');
       literal.Put(bits, 256);                   // end of block, a 15-bit code
       bits.Bytes(std::vector<uint8_t>(20, 0));  // input that the loop may look at
     },
     kInflateOk},
    {"DistancesOfUpTo15Bits",
     [](BitWriter& bits) {
       PutPlainDynamicHeader(bits, true, SmallLiteralLengths(), LongDistanceLengths());
       HuffmanCode literal(SmallLiteralLengths());
       HuffmanCode distance(LongDistanceLengths());
       for (unsigned s = 0; s < 16; s++) {
         literal.Put(bits, 'A');                // literal A
         literal.Put(bits, 257);                // length 3
         distance.Put(bits, s);                 // distance symbol s, of s + 1 bits
         bits.Put(1, s < 4 ? 0 : (s - 2) / 2);  // extra bits: 1 when there are any
       }
       for (int i = 0; i < 200; i++) literal.Put(bits, 'A');
       literal.Put(bits, 256);                   // end of block
       bits.Bytes(std::vector<uint8_t>(20, 0));  // input that the loop may look at
     },
     kInflateOk},
};

void PrintTo(const FastLoopStream& c, std::ostream* os) {
  *os << c.name;
}

class FastLoopStreamTest : public testing::TestWithParam<FastLoopStream> {};

TEST_P(FastLoopStreamTest, EndsLikeTheByteWisePath) {
  for (int i = 0; i < 32768; i++) HarnessWindow()[i] = uint8_t(i * 7 % 251);
  BitWriter bits;
  GetParam().write(bits);
  std::vector<uint8_t> stream = bits.Finish();
  InflateRun run = Decode(stream, false);
  EXPECT_EQ(run.result, GetParam().result);
  // Where the stream failed, the loop still had input for a whole round.
  if (run.result != kInflateOk) {
    EXPECT_GE(stream.size() - run.bytesTaken, 16u);
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, FastLoopStreamTest, testing::ValuesIn(kFastLoopStreams),
                         [](const testing::TestParamInfo<FastLoopStream>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace inflate_test
