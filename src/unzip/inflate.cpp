// The Deflate decoder (RFC 1951): block headers, stored blocks, the fixed and dynamic Huffman
// codes, and the symbol loop that fills the 32 KB window. Input arrives through NextByte (or,
// on the fast path, straight from the data path's input block); output leaves through
// FlushWindow, in whole windows and once at the end.
#include "unzip/inflate.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "unzip/job.h"

void* (*inflateAllocate)(size_t bytes) = malloc;
void (*inflateRelease)(void* block) = free;
bool inflateFastPath = true;

namespace {

constexpr unsigned kMaxCodeBits = 16;  // the longest code the table builder takes
constexpr unsigned kMaxSymbols = 288;  // the most symbols one code has
constexpr unsigned kWindowMask = kWindowSize - 1;
constexpr unsigned kWindowSlack = 8;  // the slide window's bytes beyond the window proper
static_assert(kSlideWindowBytes == kWindowSize + kWindowSlack,
              "the job's slide window holds the window and its slack");

// How far the decoder may read past the entry's data. A valid stream looks ahead by at most one
// byte; a damaged one that never reaches its final end-of-block code would otherwise go on
// decoding the repeated last byte for ever.
constexpr unsigned kMaxOverrun = 4;

// First-level widths asked of the table builder.
constexpr unsigned kLiteralLookupBits = 9;  // dynamic blocks
constexpr unsigned kDistanceLookupBits = 6;
constexpr unsigned kFixedLiteralLookupBits = 7;
constexpr unsigned kFixedDistanceLookupBits = 5;
constexpr unsigned kCodeLengthLookupBits = 7;

// RFC 1951 3.2.5: base length and extra bits of the length symbols 257..285. Symbols 286 and
// 287 occur only in the fixed code and are invalid: their extra count 99 becomes `op` 99.
constexpr uint16_t LengthBase[31] = {3,  4,   5,   6,   7,   8,   9,   10, 11, 13, 15,
                                     17, 19,  23,  27,  31,  35,  43,  51, 59, 67, 83,
                                     99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr uint16_t LengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                      3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};

// RFC 1951 3.2.5: base distance and extra bits of the distance symbols 0..29.
constexpr uint16_t DistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint16_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// RFC 1951 3.2.7: the order in which a dynamic block lists the code-length code's lengths.
constexpr uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

// A field of n bits is the bit buffer AND LowBitMasks[n]. Up to 31: the fast loop takes a code
// and its extra bits, up to 28, at once.
constexpr uint32_t LowBitMasks[32] = {
    0x0,      0x1,       0x3,       0x7,       0xf,       0x1f,       0x3f,       0x7f,
    0xff,     0x1ff,     0x3ff,     0x7ff,     0xfff,     0x1fff,     0x3fff,     0x7fff,
    0xffff,   0x1ffff,   0x3ffff,   0x7ffff,   0xfffff,   0x1fffff,   0x3fffff,   0x7fffff,
    0xffffff, 0x1ffffff, 0x3ffffff, 0x7ffffff, 0xfffffff, 0x1fffffff, 0x3fffffff, 0x7fffffff};

// The decoder's state between blocks. One set serves the whole program, one entry at a time.
// The bit buffer is 64 bits wide so that the fast symbol loop can hand back what it fetched
// ahead; the byte-wise path never holds more than 23 bits in it.
struct InflateState {
  uint64_t bitBuffer;
  unsigned bitCount;
  unsigned windowPos;
  uint16_t byteCell;  // NextByte stores each byte here; past the end it keeps the last one
  unsigned overrun;   // bytes asked for beyond the entry's data
  // The tables of the block being decoded, so that a job aborted inside it can release them.
  CodeEntry* literalTable;
  CodeEntry* distanceTable;
  CodeEntry* codeLengthTable;
};

InflateState state;

// The working copies a block decoder keeps in locals: `buffer` holds `count` unread stream bits,
// the next one in bit 0, and every bit above `count` is zero. `pos` is where the next decoded
// byte goes in `window`. They are loaded from the state when a block starts and stored back
// when it ends without error.
struct Decoder {
  uint64_t buffer;
  unsigned count;
  unsigned pos;
  uint8_t* window;
  unsigned start;  // as in OutputWindow
  unsigned end;
};

Decoder LoadDecoder() {
  OutputWindow w = DecoderWindow();
  return Decoder{state.bitBuffer, state.bitCount, state.windowPos, w.bytes, w.start, w.end};
}

// The window's bounds. SETUP.EXE's decoder knows them as constants.
unsigned WindowStart(const Decoder& d) {
  return kWholeEntryWindows ? d.start : 0;
}

unsigned WindowEnd(const Decoder& d) {
  return kWholeEntryWindows ? d.end : kWindowSize;
}

// Where a distance back from `pos` leads: the 32 KB window wraps around; a whole entry's buffer
// holds its history before `start`, which no distance reaches beyond.
unsigned SourceOf(const Decoder& d, unsigned pos, unsigned distance) {
  return WindowStart(d) == 0 ? (pos - distance) & kWindowMask : pos - distance;
}

// The window is full: it goes to the output and the decoder starts over at its start.
void PassOnWindow(Decoder& d) {
  FlushWindow(WindowEnd(d));
  d.pos = WindowStart(d);
}

void StoreDecoder(const Decoder& d) {
  state.bitBuffer = d.buffer;
  state.bitCount = d.count;
  state.windowPos = d.pos;
}

// Need(n): tops the buffer up a byte at a time until it holds at least n bits (n <= 16). Past
// the entry's data NextByte delivers nothing and the last byte is shifted in again, as a valid
// stream's one byte of look-ahead needs; false once that has happened more than kMaxOverrun
// times, which ends the stream as invalid.
bool Need(Decoder& d, unsigned n) {
  while (d.count < n) {
    if (NextByte(&state.byteCell) == 0 && ++state.overrun > kMaxOverrun) return false;
    d.buffer |= uint64_t(state.byteCell) << d.count;
    d.count += 8;
  }
  return true;
}

unsigned Bits(const Decoder& d, unsigned n) {
  return unsigned(d.buffer) & LowBitMasks[n];
}

void Drop(Decoder& d, unsigned n) {
  d.buffer >>= n;
  d.count -= n;
}

// Need(n), then the n-bit field (n <= 16) into *value and dropped.
bool TakeBits(Decoder& d, unsigned n, unsigned* value) {
  if (!Need(d, n)) return false;
  *value = Bits(d, n);
  Drop(d, n);
  return true;
}

// Puts one decoded byte into the window; a full window goes to the output and starts over.
void PutByte(Decoder& d, uint8_t byte) {
  d.window[d.pos++] = byte;
  if (d.pos == WindowEnd(d)) PassOnWindow(d);
}

void ReleaseTable(CodeEntry*& table) {
  FreeDecodeTable(table);
  table = nullptr;
}

void ReleaseBlockTables() {
  ReleaseTable(state.literalTable);
  ReleaseTable(state.distanceTable);
  ReleaseTable(state.codeLengthTable);
}

// Follows a code from its first-level slot down through the sub-tables to its leaf, dropping
// the bits each level accounts for. Null for an invalid code or an empty table.
const CodeEntry* LookUp(Decoder& d, const CodeEntry* table, unsigned lookupBits) {
  if (table == nullptr || !Need(d, lookupBits)) return nullptr;
  const CodeEntry* slot = &table[Bits(d, lookupBits)];
  while (slot->op > kOpLiteral) {
    if (slot->op == kOpInvalid) return nullptr;
    Drop(d, slot->bits);
    unsigned n = slot->op - kOpLiteral;
    if (!Need(d, n)) return nullptr;
    slot = &slot->link[Bits(d, n)];
  }
  Drop(d, slot->bits);
  return slot;
}

// Copies a match of `length` bytes from `distance` back to the window position, in runs that
// end at the window's end. A run whose source lies at least its length behind, or ahead in the
// 32 KB window, moves as one block; a nearer source is copied byte by byte, so that a short
// distance repeats the bytes just written.
void CopyMatch(Decoder& d, unsigned distance, unsigned length) {
  while (length > 0) {
    unsigned source = SourceOf(d, d.pos, distance);
    unsigned run = WindowEnd(d) - (source > d.pos ? source : d.pos);
    if (run > length) run = length;
    length -= run;
    if (d.pos - source >= run) {
      memmove(d.window + d.pos, d.window + source, run);
      d.pos += run;
    } else {
      while (run-- > 0) d.window[d.pos++] = d.window[source++];
    }
    if (d.pos == WindowEnd(d)) PassOnWindow(d);
  }
}

constexpr int kMoreSymbols = -1;

// Decodes one literal/length symbol and, for a length, its distance and the match: the
// byte-wise step that the plain loop repeats and that the fast loop falls back on near the end
// of an input block or of the window. kMoreSymbols to go on; 0 at end of block; 1 on an invalid
// code.
int DecodeOneSymbol(Decoder& d, const CodeEntry* literalTable, const CodeEntry* distanceTable,
                    unsigned literalBits, unsigned distanceBits) {
  const CodeEntry* slot = LookUp(d, literalTable, literalBits);
  if (slot == nullptr) return kInflateBadData;
  if (slot->op == kOpLiteral) {
    PutByte(d, uint8_t(slot->value));
    return kMoreSymbols;
  }
  if (slot->op == kOpEndOfBlock) return kInflateOk;
  unsigned extra;
  if (!TakeBits(d, slot->op, &extra)) return kInflateBadData;
  unsigned length = slot->value + extra;
  slot = LookUp(d, distanceTable, distanceBits);
  if (slot == nullptr || !TakeBits(d, slot->op, &extra)) return kInflateBadData;
  CopyMatch(d, slot->value + extra, length);
  return kMoreSymbols;
}

int DecodeSymbolsPlain(Decoder& d, const CodeEntry* literalTable, const CodeEntry* distanceTable,
                       unsigned literalBits, unsigned distanceBits) {
  int result;
  do {
    result = DecodeOneSymbol(d, literalTable, distanceTable, literalBits, distanceBits);
  } while (result == kMoreSymbols);
  return result;
}

// --- The fast path --------------------------------------------------------------------------
//
// It takes input straight from the data path's input block, eight bytes at a time, but only
// from the block at hand: the next block is read through NextByte at the very moment the
// byte-wise path would read it, so refills, progress messages and cancel points fall exactly
// where they fall without it. It runs while the block has sixteen bytes left, so that nothing
// inside a round can reach its end; near it the byte-wise step takes over. A match that reaches
// the window's end is copied as the byte-wise path copies it, passing the full window on at the
// same point. It decodes through flat tables built from the block's code lengths, which give
// most codes in one look-up (two literals at a time where both codes fit; a length or distance
// with the width of its extra bits, taken in the same step), and falls back on the decode
// tables for the rest.

uint64_t LoadWord(const uint8_t* bytes) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t word;
  memcpy(&word, bytes, sizeof word);
  return word;
#else
  uint64_t word = 0;
  for (int i = 7; i >= 0; i--) word = word << 8 | bytes[i];
  return word;
#endif
}

// Stores the low two bytes of `value`, the lower first.
void StoreTwo(uint8_t* to, uint32_t value) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint16_t two = uint16_t(value);
  memcpy(to, &two, sizeof two);
#else
  to[0] = uint8_t(value);
  to[1] = uint8_t(value >> 8);
#endif
}

uint32_t Load4(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24;
}

void Copy8(uint8_t* to, const uint8_t* from) {
  memcpy(to, from, 8);
}

void StoreWord(uint8_t* to, uint64_t word) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  memcpy(to, &word, sizeof word);
#else
  for (int i = 0; i < 8; i++) to[i] = uint8_t(word >> 8 * i);
#endif
}

// Copies `length` bytes from `from` to `to` eight at a time, in order: sixteen at once, then
// eight at a time, so that a source at least eight bytes behind its target reads only bytes
// already final, and one ahead of it reads each byte before it is overwritten. Up to thirteen
// bytes past the end are written, and read on the source's side.
void CopyChunks(uint8_t* to, const uint8_t* from, unsigned length) {
  Copy8(to, from);
  Copy8(to + 8, from + 8);
  for (unsigned done = 16; done < length; done += 8) Copy8(to + done, from + done);
}

// Copies a match whose source lies 1, 2 or 4 bytes behind its target, which repeats those
// bytes, as whole words of the repeated pattern. Exactly the pattern's bytes are read: the bytes
// just written are then more often taken straight from the store that wrote them. Up to seven
// bytes past the end are written.
void CopyWordRepeat(uint8_t* to, unsigned distance, unsigned length) {
  const uint8_t* from = to - distance;
  uint64_t pattern;
  if (distance == 4) {
    pattern = Load4(from) * uint64_t(0x0000000100000001u);
  } else if (distance == 2) {
    pattern = (from[0] | from[1] << 8) * uint64_t(0x0001000100010001u);
  } else {
    pattern = from[0] * uint64_t(0x0101010101010101u);
  }
  StoreWord(to, pattern);
  for (unsigned done = 8; done < length; done += 8) StoreWord(to + done, pattern);
}

// How far before the window's end a match may end for the fast copies: they write up to
// thirteen bytes past its end and keep and put back the sixteen there, within the window's eight
// bytes of slack.
constexpr unsigned kFastCopyMargin = 16 - kWindowSlack;

// The bytes past a match's end are still the window's older content, which a later distance may
// reach: the fast copies keep the sixteen after it aside and put them back afterwards.
struct KeptTail {
  uint8_t* at;
  uint8_t bytes[16];
  explicit KeptTail(uint8_t* end) : at(end) { memcpy(bytes, end, sizeof bytes); }
  ~KeptTail() { memcpy(at, bytes, sizeof bytes); }
};

// A match of `length` bytes from `source` to `pos`, in chunks where `chunks`, else as words of
// its 1, 2 or 4 bytes' pattern.
void CopyMatchFast(uint8_t* window, unsigned pos, unsigned source, unsigned distance,
                   unsigned length, bool chunks) {
  if (chunks) {
    CopyChunks(window + pos, window + source, length);
  } else {
    CopyWordRepeat(window + pos, distance, length);
  }
}

// What the fast loop's bit budget rests on: a refill leaves at least 56 bits; a Deflate code
// has at most 15 bits (RFC 1951 3.2.2), a length at most 5 extra bits and a distance 13
// (3.2.5); each round starts with at least kRoundStartBits.
constexpr unsigned kRefillBits = 56;  // 0b111000: Refill ORs it into the count
constexpr unsigned kLongestCode = 15;
constexpr unsigned kMostLengthExtra = 5;
constexpr unsigned kMostDistanceExtra = 13;
constexpr unsigned kRoundStartBits = 19;

// The fast loop's bit buffer: `buffer` holds Count() unread bits, the next in bit 0. Above them
// it may hold copies of bytes not yet taken; they are fetched again at the same place, so OR-ing
// them in once more changes nothing, and they are cleared when the loop ends. The count is the
// low six bits of `count`: DropEntry takes a whole table entry off it, whose low byte is the
// bits to drop, and what the rest of the entry leaves above the count is never looked at.
// Refill() takes whole bytes from `in` until at least 56 bits are there; it reads eight bytes,
// so it needs eight readable ones left in the block.
struct FastBits {
  uint64_t buffer;
  uint32_t count;
  const uint8_t* in;

  unsigned Count() const { return count & 63; }
  void Refill() {
    buffer |= LoadWord(in) << Count();
    in += (~count >> 3) & 7;  // (63 - Count()) / 8
    count |= kRefillBits;
  }
  uint32_t Peek(uint32_t mask) const { return uint32_t(buffer) & mask; }
  void Drop(unsigned n) {
    buffer >>= n;
    count -= n;
  }
  void DropEntry(uint32_t entry) {
    buffer >>= entry & 63;
    count -= entry;
  }
  // Follows a code from its first-level slot to its leaf and drops its bits; null for an
  // invalid code. Needs at most 15 bits.
  const CodeEntry* Decode(const CodeEntry* slot) {
    while (slot->op > kOpLiteral) {
      if (slot->op == kOpInvalid) return nullptr;
      Drop(slot->bits);
      slot = &slot->link[Peek(LowBitMasks[slot->op - kOpLiteral])];
    }
    Drop(slot->bits);
    return slot;
  }
};

// The fast loop's tables: what the block's code says about every pattern of the next
// kFast...Bits stream bits, in one 32-bit entry and one look-up:
//   bits 0..7    the stream bits the entry stands for in all;
//   bits 8..15   what it is: kFastLiteral, with kFastPair when it holds two literals; kFastEnd;
//                kFastSlow for a code longer than the table or an invalid one, which the decode
//                table decides; else (below 16) a length or distance whose code has this many
//                bits, the bits from there to the whole being its extra bits;
//   bits 16..31  the literal (two: the first in the low byte), or the length or distance base.
constexpr uint32_t kFastLiteral = 0x8000;
constexpr uint32_t kFastPair = 0x0100;
constexpr uint32_t kFastEnd = 0x4000;
constexpr uint32_t kFastSlow = 0x2000;
constexpr unsigned kFastLiteralBits = 11;
constexpr unsigned kFastDistanceBits = 10;

struct FastTables {
  uint32_t literal[1u << kFastLiteralBits];
  uint32_t distance[1u << kFastDistanceBits];
};

FastTables fastTables;

// ksdist's fast tables take the order of the block's codes from the decode table builder, which
// has sorted them already: the literal/length code's and the distance code's symbols by code
// length and then by symbol, those of length l from `starts[l]` up to `starts[l + 1]`. SETUP.EXE,
// built for size, sorts them again.
constexpr bool kKeepSortedCodes = kBuiltForSpeed;

struct SortedCode {
  unsigned starts[kMaxCodeBits + 2];
  uint16_t order[kMaxSymbols];
};

SortedCode sortedCodes[2];  // the literal/length code's, the distance code's

// The next code of `length` bits after `pattern`, both bit-reversed: the ones from the top down
// to the first zero, and that zero, flip (all of them after the last code, which gives 0).
unsigned NextReversed(unsigned pattern, unsigned length) {
  unsigned zeros = (~pattern & ((1u << length) - 1)) | 1;
  unsigned firstZero = 1u << (31 - __builtin_clz(zeros));
  return pattern ^ ((1u << length) - firstZero);
}

// SETUP.EXE, built for size, does without literal pairs: building them is a good part of the
// fast path's code, and the throughput they bring counts where ksdist unpacks large archives.
constexpr bool kLiteralPairs = kBuiltForSpeed;

// The second halves of literal pairs, by the room a first code leaves: for each room r that
// some first code leaves, 2^r entries from index 2^r on, entry k what a pair gains when the rest
// of its pattern is k: the second literal's code length, the pair flag and the literal; 0 where
// that rest does not begin with a whole literal code of at most r bits.
uint32_t pairSeconds[1u << kFastLiteralBits];

// Turns the slots of each literal whose code leaves room in the table's pattern for a second
// literal's whole code into slots for both, where the rest of the pattern begins with one.
// `order` lists the table's symbols by code length, those up to length l before `ends[l]`;
// literals are the symbols below 256.
void PairLiterals(uint32_t* fast, unsigned fastBits, const uint16_t* order, const unsigned* ends,
                  const uint16_t* patterns, const unsigned* lengths) {
  unsigned shortest = 0;
  for (unsigned i = 0; i < ends[fastBits] && shortest == 0; i++) {
    if (order[i] < 256) shortest = lengths[order[i]];
  }
  if (shortest == 0 || 2 * shortest > fastBits) return;
  for (unsigned room = shortest; room <= fastBits - shortest; room++) {
    for (unsigned rest = 0; rest < (1u << room); rest++) {
      uint32_t second = fast[rest];
      uint32_t fits = (second & kFastLiteral) >> 15 & ((second & 0xFF) <= room);
      pairSeconds[(1u << room) + rest] =
          -fits & ((second & 0xFF) + kFastPair + (second >> 16 << 24));
    }
  }
  for (unsigned i = 0; i < ends[fastBits - shortest]; i++) {
    unsigned s = order[i];
    if (s >= 256) continue;
    const unsigned length = lengths[s];
    const unsigned room = fastBits - length;
    const uint32_t* seconds = pairSeconds + (1u << room);
    uint32_t* slots = fast + patterns[s];
    const uint32_t single = *slots;
    for (unsigned rest = 0; rest < (1u << room); rest++)
      slots[rest << length] = single + seconds[rest];
  }
}

// Keeps the decode table builder's sort of the literal/length code (`simpleCount` 257) or of
// the distance code (0) for the fast tables: `sorted` holds the symbols with codes, `counts`
// how many have each length.
void KeepSortedCode(unsigned simpleCount, const unsigned* counts, const uint16_t* sorted) {
  if (simpleCount != 257 && simpleCount != 0) return;
  SortedCode& kept = sortedCodes[simpleCount == 0];
  kept.starts[0] = kept.starts[1] = 0;
  for (unsigned length = 1; length <= kMaxCodeBits; length++)
    kept.starts[length + 1] = kept.starts[length] + counts[length];
  if (sorted) memcpy(kept.order, sorted, sizeof(uint16_t) * kept.starts[kMaxCodeBits + 1]);
}

// Fills the fast table of the literal/length code (`literals`) or of the distance code from the
// code's `count` code lengths, which the decode table builder has accepted: slot i says what the
// stream bits i are, as far as i's bits reach. The table is made by
// doubling: once it says all it can about patterns of l - 1 bits, a copy of it above itself
// says the same about patterns of l bits, and then each code of l bits goes into its slot. The
// codes come in the order RFC 1951 3.2.2 gives them out, by length and then by symbol, each the
// one before plus one, counted bit-reversed. What no code of up to fastBits bits covers stays
// slow. Where `pairs` asks, literal slots then hold two literals where both codes fit.
void BuildFastTable(const unsigned* lengths, unsigned count, bool literals, bool pairs) {
  uint32_t* const fast = literals ? fastTables.literal : fastTables.distance;
  const unsigned fastBits = literals ? kFastLiteralBits : kFastDistanceBits;
  const unsigned simpleCount = literals ? 257 : 0;  // literals and the end of block
  const uint16_t* const baseList = literals ? LengthBase : DistanceBase;
  const uint16_t* const extraList = literals ? LengthExtra : DistanceExtra;
  // The symbols with codes of up to fastBits bits, by length and then by symbol: those of length
  // l from starts[l] up to starts[l + 1].
  unsigned ownStarts[kMaxCodeBits + 2] = {};
  uint16_t ownOrder[kMaxSymbols];
  const unsigned* starts = ownStarts;
  const uint16_t* order = ownOrder;
  if (kKeepSortedCodes) {
    starts = sortedCodes[literals ? 0 : 1].starts;
    order = sortedCodes[literals ? 0 : 1].order;
  } else {
    for (unsigned s = 0; s < count; s++) {
      if (lengths[s] - 1 < fastBits) ownStarts[lengths[s] + 1]++;
    }
    unsigned next[kMaxCodeBits + 1];
    for (unsigned length = 0; length <= fastBits; length++) {
      ownStarts[length + 1] += ownStarts[length];
      next[length] = ownStarts[length];
    }
    for (unsigned s = 0; s < count; s++) {
      if (lengths[s] - 1 < fastBits) ownOrder[next[lengths[s]]++] = uint16_t(s);
    }
  }
  uint16_t patterns[kMaxSymbols];
  unsigned pattern = 0;
  unsigned placed = 0;
  fast[0] = kFastSlow;
  for (unsigned length = 1; length <= fastBits; length++) {
    memcpy(fast + (1u << (length - 1)), fast, sizeof(uint32_t) << (length - 1));
    for (; placed < starts[length + 1]; placed++) {
      unsigned s = order[placed];
      patterns[s] = uint16_t(pattern);
      uint32_t entry = s < 256 ? s << 16 | kFastLiteral | length : kFastEnd | length;
      if (s >= simpleCount) {
        unsigned extraBits = extraList[s - simpleCount];
        entry = extraBits == kOpInvalid ? kFastSlow
                                        : uint32_t(baseList[s - simpleCount]) << 16 | length << 8 |
                                              (length + extraBits);
      }
      fast[pattern] = entry;
      pattern = NextReversed(pattern, length);
    }
  }
  if (literals && kLiteralPairs && pairs)
    PairLiterals(fast, fastBits, order, starts + 1, patterns, lengths);
}

// The block's codes as the fast loop uses them.
struct BlockCodes {
  const CodeEntry* literalTable;
  const CodeEntry* distanceTable;
  uint32_t literalMask;
  uint32_t distanceMask;
};

// Literal pairs cost more to build than they save where the block is small: they are built only
// while this much of the input block is left to decode.
constexpr long kPairsWorthInput = 1024;

// Room the loop needs at the top of each round: two refills' worth of input, and window space
// for six literals, so that only a match can reach the window's end.
constexpr long kStretchInput = 16;
constexpr unsigned kStretchWindowMargin = 6;

// How far ahead of the bit buffer's input the block is kept readable (at least the sixteen bytes
// two refills read). An encrypted block is decrypted a byte or two per round, as the loop takes
// them, well before the loop reads them: the decryption is one long chain of dependent steps and
// the decoding another, and the processor works on both at once only when they are close
// together in the instruction stream. A few dozen bytes at a time were markedly slower.
constexpr long kRevealAhead = 32;

// Makes the block readable at least kRevealAhead bytes beyond `in` (or to its end); returns
// where the loop has to do so again: kRevealAhead before the readable part's end, or the block's
// end once all of it is readable.
const uint8_t* RevealAhead(const uint8_t* in, const uint8_t* end) {
  const uint8_t* readable = RevealInput(in + kRevealAhead);
  return readable == end ? end : readable - kRevealAhead;
}

// ksdist runs the decryption within the fast loop; SETUP.EXE, built for size, calls the data
// path for it.
constexpr bool kInlineDecryption = kBuiltForSpeed;

// The same with the block's decryption taken over by the loop, whose locals keep its keys: the
// call is always inlined, or the keys would go through memory each time.
__attribute__((always_inline)) inline const uint8_t* RevealAhead(InputDecryption& decryption,
                                                                 const uint8_t* in,
                                                                 const uint8_t* end) {
  const uint8_t* upTo = in + kRevealAhead < end ? in + kRevealAhead : end;
  if (upTo > decryption.readableEnd) decryption.RevealUpTo(const_cast<uint8_t*>(upTo));
  return upTo == end ? end : upTo - kRevealAhead;
}

// Hands the bytes taken from the input block back to the data path's count; the last one is
// what NextByte would have left in its cell.
void TakeFrom(const uint8_t* start, const uint8_t* cursor) {
  if (cursor == start) return;
  TakeInput(uint32_t(cursor - start));
  state.byteCell = cursor[-1];
}

// Gives the bits and the input a fast loop has taken back to the byte-wise decoder `d` and the
// data path: the buffer without the bytes fetched ahead, and the bytes taken from `start` on.
void HandBack(Decoder& d, const FastBits& bits, const uint8_t* start) {
  d.buffer = bits.buffer & ((uint64_t(1) << bits.Count()) - 1);
  d.count = bits.Count();
  TakeFrom(start, bits.in);
}

// A length or distance from its entry: the base plus the extra bits after the code, which go
// with it in one step.
unsigned TakeValue(FastBits& bits, uint32_t entry) {
  uint32_t upToTotal = uint32_t(bits.buffer) & LowBitMasks[entry & 31];
  unsigned value = (entry >> 16) + (upToTotal >> (entry >> 8 & 31));
  bits.DropEntry(entry);
  return value;
}

// The same from a decode table's leaf, whose code has already been dropped.
unsigned TakeValue(FastBits& bits, const CodeEntry* slot) {
  unsigned value = slot->value + bits.Peek(LowBitMasks[slot->op]);
  bits.Drop(slot->op);
  return value;
}

// Puts the one or two literals of a literal entry into the window at `pos` and drops their
// codes. Two bytes are stored either way; after a single literal the second is not yet the
// output's, and in the 32 KB window (`kRing`) the older content there, which a distance of
// 32,768 reads, goes to `kept` first.
template <bool kRing>
void PutLiterals(FastBits& bits, uint8_t* window, unsigned& pos, uint8_t& kept, uint32_t entry) {
  bits.DropEntry(entry);
  unsigned count = 1 + (entry >> 8 & 1);
  if (kRing) kept = window[pos + count];
  StoreTwo(window + pos, entry >> 16);
  pos += count;
}

// The hot loop over one stretch of the input block. One round decodes up to three literal
// entries and then, unless the third was a literal too, a length with its distance and match
// (or the end of the block). The buffer is topped up right after the round's first look-up and
// again after the distance's, each time from bits it already held: the look-up need not wait
// for the refill. Each round therefore starts with at least kRoundStartBits, as the
// static_asserts beside the look-ups work out: the 56 of a refill less
// three literal entries (33 bits), or two and a long literal code (22 + 15), or a distance and
// its extra bits (28); a length and its extra bits take at most 20 of the 34 that two literal
// entries leave, and the distance table needs 10. `kept` is what window[pos] holds as the
// window's older content, which a single literal's second byte may have overwritten: it goes
// back before each match, whose source may begin there, and at the end. Only the 32 KB window
// (`kRing`) has such content past `pos`; a whole-entry buffer has none there, and its loop
// keeps nothing aside. What was taken goes back to `d` and the data path at the end. ksdist's
// loop runs an encrypted block's decryption itself, a few bytes ahead of where it reads.
template <bool kRing>
int DecodeStretch(Decoder& d, const InputSpan& span, const BlockCodes& codes) {
  FastBits bits{d.buffer, d.count, span.cursor};
  const uint8_t* const end = span.end;
  const uint8_t* const lastRound = end - kStretchInput;
  // Past `revealAt` more of the block is made readable; never once all of it is.
  InputDecryption decryption = kInlineDecryption ? TakeInputDecryption() : InputDecryption{};
  const bool ownDecryption = decryption.readableEnd != nullptr;
  const uint8_t* revealAt = span.readable == end ? end
                            : ownDecryption      ? RevealAhead(decryption, bits.in, end)
                                                 : RevealAhead(bits.in, end);
  unsigned pos = d.pos;
  uint8_t* const window = d.window;
  const unsigned roundEnd = WindowEnd(d) - kStretchWindowMargin;
  const unsigned copyEnd = WindowEnd(d) - kFastCopyMargin;
  uint8_t kept = window[pos];
  const uint32_t* const literals = fastTables.literal;
  const uint32_t* const distances = fastTables.distance;
  constexpr uint32_t kLiteralMask = (1u << kFastLiteralBits) - 1;
  constexpr uint32_t kDistanceMask = (1u << kFastDistanceBits) - 1;
  int result = kMoreSymbols;
  bits.Refill();
  do {
    if (bits.in > revealAt) {
      revealAt = ownDecryption ? RevealAhead(decryption, bits.in, end) : RevealAhead(bits.in, end);
    }
    static_assert(kRoundStartBits >= kFastLiteralBits, "the first look-up needs no refill");
    uint32_t entry = literals[bits.Peek(kLiteralMask)];
    bits.Refill();
    // Up to three literal entries, or two and what follows, from one refill.
    static_assert(kRefillBits - 2 * kFastLiteralBits >= kFastLiteralBits);
    static_assert(kRefillBits - 3 * kFastLiteralBits >= kRoundStartBits);
    if (entry & kFastLiteral) {
      PutLiterals<kRing>(bits, window, pos, kept, entry);
      entry = literals[bits.Peek(kLiteralMask)];
      if (entry & kFastLiteral) {
        PutLiterals<kRing>(bits, window, pos, kept, entry);
        entry = literals[bits.Peek(kLiteralMask)];
        if (entry & kFastLiteral) {
          PutLiterals<kRing>(bits, window, pos, kept, entry);
          continue;
        }
      }
    }
    // A long literal code, or a length code and its extra bits, after two literal entries; then
    // the distance look-up without a refill.
    static_assert(kRefillBits - 2 * kFastLiteralBits - kLongestCode >= kRoundStartBits);
    static_assert(kRefillBits - 2 * kFastLiteralBits - (kLongestCode + kMostLengthExtra) >=
                  kFastDistanceBits);
    unsigned length;
    if ((entry & (kFastEnd | kFastSlow)) == 0) {
      length = TakeValue(bits, entry);
    } else {
      const CodeEntry* leaf = bits.Decode(&codes.literalTable[bits.Peek(codes.literalMask)]);
      if (leaf == nullptr) {
        result = kInflateBadData;
        break;
      }
      if (leaf->op == kOpLiteral) {
        window[pos++] = uint8_t(leaf->value);
        if (kRing) kept = window[pos];
        continue;
      }
      if (leaf->op == kOpEndOfBlock) {
        result = kInflateOk;
        break;
      }
      length = TakeValue(bits, leaf);
    }
    unsigned distance;
    entry = distances[bits.Peek(kDistanceMask)];
    bits.Refill();
    static_assert(kRefillBits - (kLongestCode + kMostDistanceExtra) >= kRoundStartBits);
    if ((entry & kFastSlow) == 0) {
      distance = TakeValue(bits, entry);
    } else {
      const CodeEntry* leaf =
          codes.distanceTable == nullptr
              ? nullptr
              : bits.Decode(&codes.distanceTable[bits.Peek(codes.distanceMask)]);
      if (leaf == nullptr) {
        result = kInflateBadData;
        break;
      }
      distance = TakeValue(bits, leaf);
    }
    // The common matches in chunks or words; the rest (sources that run past the window's end,
    // targets near it, distances of 3, 5, 6 and 7) as the byte-wise path copies them.
    if (kRing) window[pos] = kept;
    unsigned source = kRing ? SourceOf(d, pos, distance) : pos - distance;
    unsigned further = kRing && source > pos ? source : pos;
    bool chunks = distance >= 8 && further + length <= copyEnd;
    bool words = distance < 8 && (0x16u >> distance & 1) != 0 && (!kRing || distance <= pos) &&
                 pos + length <= copyEnd;  // a distance of 1, 2 or 4
    if (chunks || words) {
      if (kRing) {
        KeptTail tail(window + pos + length);
        CopyMatchFast(window, pos, source, distance, length, chunks);
      } else {
        CopyMatchFast(window, pos, source, distance, length, chunks);
      }
      pos += length;
    } else {
      Decoder careful{0, 0, pos, window, d.start, d.end};
      CopyMatch(careful, distance, length);
      pos = careful.pos;
    }
    if (kRing) kept = window[pos];
  } while (bits.in <= lastRound && pos < roundEnd);
  if (kRing) window[pos] = kept;
  if (ownDecryption) GiveBackInputDecryption(decryption);
  d.pos = pos;
  HandBack(d, bits, span.cursor);
  return result;
}

int DecodeSymbolsFast(Decoder& d, const CodeEntry* literalTable, const CodeEntry* distanceTable,
                      unsigned literalBits, unsigned distanceBits, const unsigned* lengths,
                      unsigned literalCount, unsigned distanceCount) {
  bool tablesBuilt = false;
  const BlockCodes codes{literalTable, distanceTable, LowBitMasks[literalBits],
                         LowBitMasks[distanceBits]};
  for (;;) {
    InputSpan span = PeekInput();
    int result;
    if (literalTable != nullptr && span.end - span.cursor >= kStretchInput &&
        d.pos < WindowEnd(d) - kStretchWindowMargin) {
      if (!tablesBuilt) {
        bool pairs = kLiteralPairs && span.end - span.cursor >= kPairsWorthInput;
        BuildFastTable(lengths, literalCount, true, pairs);
        BuildFastTable(lengths + literalCount, distanceCount, false, false);
        tablesBuilt = true;
      }
      result = WindowStart(d) == 0 ? DecodeStretch<true>(d, span, codes)
                                   : DecodeStretch<false>(d, span, codes);
    } else {
      result = DecodeOneSymbol(d, literalTable, distanceTable, literalBits, distanceBits);
    }
    if (result != kMoreSymbols) return result;
  }
}

// Stored data on the fast path: what the bit buffer already holds goes first, byte by byte;
// then whole stretches are copied from the input block, each ending at the block's end, the
// window's end or the block's last byte, whichever comes first.
bool CopyStoredFast(Decoder& d, unsigned length) {
  while (length > 0) {
    InputSpan span = PeekInput();
    if (d.count > 0 || span.cursor == span.end) {
      if (!Need(d, 8)) return false;
      PutByte(d, uint8_t(d.buffer));
      Drop(d, 8);
      length--;
      continue;
    }
    unsigned run = WindowEnd(d) - d.pos;
    unsigned available = unsigned(span.end - span.cursor);
    if (run > length) run = length;
    if (run > available) run = available;
    RevealInput(span.cursor + run);
    memcpy(d.window + d.pos, span.cursor, run);
    TakeFrom(span.cursor, span.cursor + run);
    d.pos += run;
    length -= run;
    if (d.pos == WindowEnd(d)) PassOnWindow(d);
  }
  return true;
}

bool CopyStoredPlain(Decoder& d, unsigned length) {
  while (length-- > 0) {
    if (!Need(d, 8)) return false;
    PutByte(d, uint8_t(d.buffer));
    Drop(d, 8);
  }
  return true;
}

// Decodes one block's symbols with the block's tables, which are released whatever happens.
int DecodeWithTables(const unsigned* lengths, unsigned literalCount, unsigned distanceCount,
                     unsigned literalBits, unsigned distanceBits) {
  int result = DecodeSymbols(state.literalTable, state.distanceTable, literalBits, distanceBits,
                             lengths, literalCount, distanceCount);
  ReleaseBlockTables();
  return result == kInflateOk ? kInflateOk : kInflateBadData;
}

// Reads a dynamic block's nl + nd code lengths with the code-length table into `lengths`.
int ReadCodeLengths(Decoder& d, const CodeEntry* table, unsigned tableBits, unsigned total,
                    unsigned* lengths) {
  unsigned i = 0;
  unsigned previous = 0;
  while (i < total) {
    if (table == nullptr || !Need(d, tableBits)) return kInflateBadData;
    const CodeEntry& slot = table[Bits(d, tableBits)];
    Drop(d, slot.bits);
    unsigned symbol = slot.value;
    if (symbol < 16) {
      lengths[i++] = symbol;
      previous = symbol;
      continue;
    }
    // 16 repeats the previous length 3..6 times, 17 zero 3..10 times, 18 zero 11..138 times.
    unsigned extraBits = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    unsigned repeat;
    if (!TakeBits(d, extraBits, &repeat)) return kInflateBadData;
    repeat += symbol == 18 ? 11 : 3;
    if (i + repeat > total) return kInflateBadData;
    if (symbol != 16) previous = 0;
    while (repeat-- > 0) lengths[i++] = previous;
  }
  return kInflateOk;
}

}  // namespace

int InflateStream() {
  state.windowPos = kWholeEntryWindows ? DecoderWindow().start : 0;
  state.bitCount = 0;
  state.bitBuffer = 0;
  state.overrun = 0;
  bool isFinal = false;
  while (!isFinal) {
    int result = DecodeBlock(&isFinal);
    if (result != kInflateOk) return result;
  }
  FlushWindow(state.windowPos);
  return kInflateOk;
}

unsigned InflateBitsLeft() {
  return state.bitCount;
}

unsigned InflateWindowPosition() {
  return state.windowPos;
}

int DecodeBlock(bool* isFinal) {
  Decoder d = LoadDecoder();
  unsigned final, type;
  if (!TakeBits(d, 1, &final)) return kInflateBadData;
  *isFinal = final != 0;
  if (!TakeBits(d, 2, &type)) return kInflateBadData;
  StoreDecoder(d);
  switch (type) {
    case 0:
      return CopyStoredBlock();
    case 1:
      return DecodeFixedBlock();
    case 2:
      return DecodeDynamicBlock();
    default:
      return kInflateBadBlock;
  }
}

int CopyStoredBlock() {
  Decoder d = LoadDecoder();
  Drop(d, d.count % 8);
  unsigned length, complement;
  if (!TakeBits(d, 16, &length) || !TakeBits(d, 16, &complement)) return kInflateBadData;
  if (complement != (length ^ 0xffff)) return kInflateBadData;
  bool copied = inflateFastPath ? CopyStoredFast(d, length) : CopyStoredPlain(d, length);
  if (kWholeEntryWindows) state.windowPos = d.pos;
  if (!copied) return kInflateBadData;
  StoreDecoder(d);
  return kInflateOk;
}

// RFC 1951 3.2.6: the fixed code. Built per block, like the dynamic ones.
int DecodeFixedBlock() {
  // Literals 0-143 have 8 bits, 144-255 9, 256-279 7 and 280-287 8; the 30 distances 5.
  unsigned lengths[288 + 30];
  for (unsigned s = 0; s < 288 + 30; s++)
    lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : s < 288 ? 8 : 5;
  unsigned literalBits = kFixedLiteralLookupBits;
  int result = BuildDecodeTable(lengths, 288, 257, LengthBase, LengthExtra, &state.literalTable,
                                &literalBits);
  if (result != kInflateOk) return result;
  // 30 codes of five bits leave two patterns unassigned: result 1 is expected here.
  unsigned distanceBits = kFixedDistanceLookupBits;
  result = BuildDecodeTable(lengths + 288, 30, 0, DistanceBase, DistanceExtra, &state.distanceTable,
                            &distanceBits);
  if (result > kInflateBadData) {
    ReleaseTable(state.literalTable);
    return result;
  }
  return DecodeWithTables(lengths, 288, 30, literalBits, distanceBits);
}

// RFC 1951 3.2.7: a dynamic block carries its codes as code lengths, themselves coded.
int DecodeDynamicBlock() {
  Decoder d = LoadDecoder();
  unsigned literalCount, distanceCount, lengthCodeCount;
  if (!TakeBits(d, 5, &literalCount) || !TakeBits(d, 5, &distanceCount) ||
      !TakeBits(d, 4, &lengthCodeCount))
    return kInflateBadData;
  literalCount += 257;
  distanceCount += 1;
  lengthCodeCount += 4;
  if (literalCount > 286 || distanceCount > 30) return kInflateBadData;

  unsigned lengths[286 + 30];
  for (unsigned j = 0; j < 19; j++) {
    lengths[CodeLengthOrder[j]] = 0;
  }
  for (unsigned j = 0; j < lengthCodeCount; j++) {
    if (!TakeBits(d, 3, &lengths[CodeLengthOrder[j]])) return kInflateBadData;
  }
  unsigned lengthBits = kCodeLengthLookupBits;
  int result =
      BuildDecodeTable(lengths, 19, 19, nullptr, nullptr, &state.codeLengthTable, &lengthBits);
  if (result != kInflateOk) {
    if (result == kInflateBadData) ReleaseTable(state.codeLengthTable);
    return result;
  }
  unsigned total = literalCount + distanceCount;
  result = ReadCodeLengths(d, state.codeLengthTable, lengthBits, total, lengths);
  ReleaseTable(state.codeLengthTable);
  if (result != kInflateOk) return result;
  StoreDecoder(d);

  unsigned literalBits = kLiteralLookupBits;
  result = BuildDecodeTable(lengths, literalCount, 257, LengthBase, LengthExtra,
                            &state.literalTable, &literalBits);
  if (result != kInflateOk) {
    if (result == kInflateBadData) ReleaseTable(state.literalTable);
    return result;
  }
  unsigned distanceBits = kDistanceLookupBits;
  result = BuildDecodeTable(lengths + literalCount, distanceCount, 0, DistanceBase, DistanceExtra,
                            &state.distanceTable, &distanceBits);
  if (result != kInflateOk) {
    ReleaseBlockTables();
    return result;
  }
  return DecodeWithTables(lengths, literalCount, distanceCount, literalBits, distanceBits);
}

int DecodeSymbols(const CodeEntry* literalTable, const CodeEntry* distanceTable,
                  unsigned literalBits, unsigned distanceBits, const unsigned* lengths,
                  unsigned literalCount, unsigned distanceCount) {
  Decoder d = LoadDecoder();
  int result = inflateFastPath
                   ? DecodeSymbolsFast(d, literalTable, distanceTable, literalBits, distanceBits,
                                       lengths, literalCount, distanceCount)
                   : DecodeSymbolsPlain(d, literalTable, distanceTable, literalBits, distanceBits);
  if (kWholeEntryWindows) state.windowPos = d.pos;  // the output so far, also on a failure
  if (result == kInflateOk) StoreDecoder(d);
  return result;
}

namespace {

// The table builder's bookkeeping for the tables open on the way down to the current code.
struct TableLevel {
  CodeEntry* table;  // the table proper (its header slot is one before)
  unsigned size;     // its slot count
  unsigned prefix;   // the low `skipped` bits of every code that lands in it
  unsigned skipped;  // the code bits covered by the levels above it
};

// Allocates a table of 2^bits slots behind its header and chains it after `*tail`.
CodeEntry* NewTable(unsigned bits, CodeEntry** first, CodeEntry** tail) {
  CodeEntry* block =
      static_cast<CodeEntry*>(inflateAllocate(sizeof(CodeEntry) * ((1u << bits) + 1)));
  if (block == nullptr) return nullptr;
  block[0].op = 0;
  block[0].bits = 0;
  block[0].link = nullptr;
  CodeEntry* table = block + 1;
  if (*tail == nullptr) {
    *first = table;
  } else {
    (*tail)[-1].link = table;
  }
  *tail = table;
  return table;
}

// The index width of a sub-table opened for a code of `length` bits, `skipped` of which the
// levels above cover, with `later` more codes of this length to come. It is the smallest width
// that the codes below this prefix fill completely, but no more than `limit`.
unsigned SubTableBits(unsigned length, unsigned skipped, unsigned later, unsigned limit,
                      const unsigned* counts) {
  unsigned bits = length - skipped;
  if (bits >= limit) return limit;
  if ((1u << bits) <= later + 1) return bits;
  unsigned free = (1u << bits) - (later + 1);  // patterns this length leaves open at that width
  for (unsigned next = length + 1; ++bits < limit; next++) {
    free <<= 1;
    if (free <= counts[next]) break;
    free -= counts[next];
  }
  return bits;
}

}  // namespace

// Canonical Huffman code (RFC 1951 3.2.2), kept bit-reversed because the stream is read least
// significant bit first. Codes up to `lookupBits` long take one first-level lookup; longer ones
// continue in sub-tables. Unassigned patterns of an incomplete code become invalid slots.
int BuildDecodeTable(const unsigned* lengths, unsigned count, unsigned simpleCount,
                     const uint16_t* baseList, const uint16_t* extraList, CodeEntry** table,
                     unsigned* lookupBits) {
  *table = nullptr;
  if (count > kMaxSymbols) return kInflateBadBlock;
  unsigned counts[kMaxCodeBits + 2] = {};
  for (unsigned s = 0; s < count; s++) {
    if (lengths[s] > kMaxCodeBits) return kInflateBadBlock;
    counts[lengths[s]]++;
  }
  if (counts[0] == count) {
    if (kKeepSortedCodes) KeepSortedCode(simpleCount, counts, nullptr);
    *lookupBits = 0;
    return kInflateOk;
  }
  unsigned shortest = 1;
  while (counts[shortest] == 0) shortest++;
  unsigned longest = kMaxCodeBits;
  while (counts[longest] == 0) longest--;
  unsigned width = *lookupBits;
  if (width < shortest) width = shortest;
  if (width > longest) width = longest;
  *lookupBits = width;

  // Over-subscribed? `open` counts the patterns left at each length; what is left at the longest
  // length is filled with invalid codes.
  int open = 1 << shortest;
  for (unsigned length = shortest; length < longest; length++) {
    open -= int(counts[length]);
    if (open < 0) return kInflateBadBlock;
    open <<= 1;
  }
  open -= int(counts[longest]);
  if (open < 0) return kInflateBadBlock;

  // Symbols sorted by length, then by symbol number.
  uint16_t sorted[kMaxSymbols];
  unsigned next[kMaxCodeBits + 1];
  unsigned used = 0;
  for (unsigned length = shortest; length <= longest; length++) {
    next[length] = used;
    used += counts[length];
  }
  for (unsigned s = 0; s < count; s++) {
    if (lengths[s] != 0) sorted[next[lengths[s]]++] = uint16_t(s);
  }
  if (kKeepSortedCodes) KeepSortedCode(simpleCount, counts, sorted);
  counts[longest] += unsigned(open);

  TableLevel levels[kMaxCodeBits + 1];
  int level = -1;
  int skipped = -int(width);
  unsigned pattern = 0;  // the current code, first bit in bit 0
  unsigned placed = 0;   // symbols of `sorted` placed so far
  CodeEntry* first = nullptr;
  CodeEntry* tail = nullptr;
  CodeEntry slot{};
  for (unsigned length = shortest; length <= longest; length++) {
    for (unsigned later = counts[length]; later-- > 0;) {
      while (int(length) > skipped + int(width)) {
        level++;
        skipped += int(width);
        unsigned limit = longest - unsigned(skipped) < width ? longest - unsigned(skipped) : width;
        unsigned bits = SubTableBits(length, unsigned(skipped), later, limit, counts);
        CodeEntry* sub = NewTable(bits, &first, &tail);
        if (sub == nullptr) {
          FreeDecodeTable(first);
          fputs("\n*** inflate out of memory *** ", stderr);
          return kInflateNoMemory;
        }
        unsigned prefix = pattern & ((1u << skipped) - 1);
        levels[level] = TableLevel{sub, 1u << bits, prefix, unsigned(skipped)};
        if (level > 0) {
          const TableLevel& parent = levels[level - 1];
          CodeEntry& link = parent.table[(pattern >> parent.skipped) & (parent.size - 1)];
          link.op = uint8_t(kOpLiteral + bits);
          link.bits = uint8_t(unsigned(skipped) - parent.skipped);
          link.link = sub;
        }
      }
      const TableLevel& current = levels[level];
      slot.bits = uint8_t(length - current.skipped);
      if (placed < used) {
        unsigned symbol = sorted[placed++];
        if (symbol < simpleCount) {
          slot.op = symbol < 256 ? kOpLiteral : kOpEndOfBlock;
          slot.value = uint16_t(symbol);
        } else {
          slot.op = uint8_t(extraList[symbol - simpleCount]);
          slot.value = baseList[symbol - simpleCount];
        }
      } else {
        slot.op = kOpInvalid;  // keeps the value of the slot before it
      }
      unsigned step = 1u << (length - current.skipped);
      for (unsigned index = pattern >> current.skipped; index < current.size; index += step) {
        current.table[index] = slot;
      }
      pattern = NextReversed(pattern, length);
      while (level > 0 && (pattern & ((1u << levels[level].skipped) - 1)) != levels[level].prefix) {
        level--;
        skipped -= int(width);
      }
    }
  }
  *table = first;
  return open > 0 && longest != 1 ? kInflateBadData : kInflateOk;
}

void FreeDecodeTable(CodeEntry* table) {
  while (table != nullptr) {
    CodeEntry* header = table - 1;
    table = header->link;
    inflateRelease(header);
  }
}

void ReleaseInflateTables() {
  ReleaseBlockTables();
}
