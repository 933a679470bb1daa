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
constexpr unsigned kMaxMatch = 258;    // RFC 1951 3.2.5: the longest match
constexpr unsigned kWindowMask = kWindowSize - 1;

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

// A field of n bits is the bit buffer AND LowBitMasks[n].
constexpr uint32_t LowBitMasks[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000f, 0x001f,
                                      0x003f, 0x007f, 0x00ff, 0x01ff, 0x03ff, 0x07ff,
                                      0x0fff, 0x1fff, 0x3fff, 0x7fff, 0xffff};

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
};

Decoder LoadDecoder() {
  return Decoder{state.bitBuffer, state.bitCount, state.windowPos, SlideWindow()};
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

// Puts one decoded byte into the window; a full window goes to the output and starts over.
void PutByte(Decoder& d, uint8_t byte) {
  d.window[d.pos++] = byte;
  if (d.pos == kWindowSize) {
    FlushWindow(kWindowSize);
    d.pos = 0;
  }
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

// Copies a match of `length` bytes from `source` (any value; only its low 15 bits count) to the
// window position, in runs that end at the window's end. A run whose source lies at least its
// length behind, or ahead in the window, moves as one block; a nearer source is copied byte by
// byte, so that a short distance repeats the bytes just written.
void CopyMatch(Decoder& d, uint32_t source, unsigned length) {
  while (length > 0) {
    source &= kWindowMask;
    unsigned run = kWindowSize - (source > d.pos ? source : d.pos);
    if (run > length) run = length;
    length -= run;
    if (d.pos - source >= run) {
      memmove(d.window + d.pos, d.window + source, run);
      d.pos += run;
      source += run;
    } else {
      while (run-- > 0) d.window[d.pos++] = d.window[source++];
    }
    if (d.pos == kWindowSize) {
      FlushWindow(kWindowSize);
      d.pos = 0;
    }
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
  if (!Need(d, slot->op)) return kInflateBadData;
  unsigned length = slot->value + Bits(d, slot->op);
  Drop(d, slot->op);
  slot = LookUp(d, distanceTable, distanceBits);
  if (slot == nullptr || !Need(d, slot->op)) return kInflateBadData;
  uint32_t source = d.pos - slot->value - Bits(d, slot->op);
  Drop(d, slot->op);
  CopyMatch(d, source, length);
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
// where they fall without it. It runs while the block has sixteen bytes left and the window
// room for the longest round, so that nothing inside a round can reach the end of either; near
// them the byte-wise step takes over. It decodes through flat views of the block's decode
// tables, which give most codes with all their bits in one look-up, and falls back on the decode
// tables themselves for the rest.

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

void Copy8(uint8_t* to, const uint8_t* from) {
  memcpy(to, from, 8);
}

// Copies a match whose source lies `distance` bytes behind within the window (no wrap, no
// flush). With a distance of at least eight, sixteen bytes at a time, in two chunks of eight
// that never read what they write. The bytes past the match's end are still the window's
// older content, which a later distance may reach: the sixteen after it are kept aside first
// and put back afterwards, over whatever the last chunks wrote past the end. The window needs
// room for them, which the fast loop leaves.
void CopyNear(uint8_t* to, unsigned distance, unsigned length) {
  const uint8_t* from = to - distance;
  if (distance >= 8) {
    uint8_t kept[16];
    memcpy(kept, to + length, sizeof kept);
    unsigned done = 0;
    do {
      Copy8(to + done, from + done);
      Copy8(to + done + 8, from + done + 8);
      done += 16;
    } while (done < length);
    memcpy(to + length, kept, sizeof kept);
  } else if (distance == 1) {
    memset(to, from[0], length);
  } else {
    for (unsigned i = 0; i < length; i++) to[i] = from[i];
  }
}

// The fast loop's bit buffer: `buffer` holds `count` unread bits, the next in bit 0. Above
// `count` it may hold copies of bytes not yet taken; they are fetched again at the same place,
// so OR-ing them in once more changes nothing, and they are cleared when the loop ends.
// Refill() takes whole bytes from `in` until at least 56 bits are there; it reads eight bytes,
// so it needs eight readable ones left in the block.
struct FastBits {
  uint64_t buffer;
  unsigned count;
  const uint8_t* in;

  void Refill() {
    buffer |= LoadWord(in) << count;
    in += (63 - count) >> 3;
    count |= 56;
  }
  uint32_t Peek(uint32_t mask) const { return uint32_t(buffer) & mask; }
  void Drop(unsigned n) {
    buffer >>= n;
    count -= n;
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

// The fast loop's view of a code: what the block's decode table says about every pattern of
// the next kFast...Bits stream bits, in one 4-byte slot and one look-up. `op` is the decode
// table's (16 literal, 15 end of block, 0..13 a base with that many extra bits); any other
// value, for codes longer than the view or invalid ones, sends the loop to the decode table
// itself. `bits` is the code's whole length.
struct FastSlot {
  uint8_t op;
  uint8_t bits;
  uint16_t value;
};

constexpr uint8_t kOpSlow = 64;
constexpr unsigned kFastLiteralBits = 11;
constexpr unsigned kFastDistanceBits = 8;

struct FastTables {
  FastSlot literal[1u << kFastLiteralBits];
  FastSlot distance[1u << kFastDistanceBits];
};

FastTables fastTables;

bool IsLeaf(const CodeEntry& slot) {
  return slot.op <= kOpLiteral;
}

// Fills `fast` (2^fastBits slots) from a decode table of first-level width `lookupBits` (none:
// every slot is slow). Slot i is what the decode table finds for the bit pattern i, as far as
// i's bits reach.
void BuildFastTable(const CodeEntry* table, unsigned lookupBits, FastSlot* fast,
                    unsigned fastBits) {
  const unsigned size = 1u << fastBits;
  const FastSlot slow{kOpSlow, 0, 0};
  if (table == nullptr || lookupBits > fastBits) {
    for (unsigned i = 0; i < size; i++) fast[i] = slow;
    return;
  }
  const unsigned firstSize = 1u << lookupBits;
  for (unsigned first = 0; first < firstSize; first++) {
    const CodeEntry& slot = table[first];
    unsigned subBits = slot.op > kOpLiteral ? slot.op - kOpLiteral : 0;
    if (IsLeaf(slot) || slot.op == kOpInvalid || lookupBits + subBits > fastBits) {
      FastSlot entry = IsLeaf(slot) ? FastSlot{slot.op, slot.bits, slot.value} : slow;
      for (unsigned i = first; i < size; i += firstSize) fast[i] = entry;
      continue;
    }
    for (unsigned sub = 0; sub < (1u << subBits); sub++) {
      const CodeEntry& leaf = slot.link[sub];
      FastSlot entry =
          IsLeaf(leaf) ? FastSlot{leaf.op, uint8_t(slot.bits + leaf.bits), leaf.value} : slow;
      for (unsigned i = first | sub << lookupBits; i < size; i += firstSize << subBits) {
        fast[i] = entry;
      }
    }
  }
}

// The block's codes as the fast loop uses them.
struct BlockCodes {
  const CodeEntry* literalTable;
  const CodeEntry* distanceTable;
  uint32_t literalMask;
  uint32_t distanceMask;
};

// Room the loop needs at the top of each round: two refills' worth of input, and window space
// for two literals, a longest match and the sixteen bytes a copy may write past its end, which
// may reach into the eight bytes the slide window has beyond the window proper.
constexpr long kStretchInput = 16;
constexpr unsigned kWindowSlack = 8;
static_assert(kSlideWindowBytes == kWindowSize + kWindowSlack,
              "the job's slide window holds the window and its slack");
constexpr unsigned kStretchWindowEnd = kWindowSize + kWindowSlack - 2 - kMaxMatch - 16;

// How far ahead of the bit buffer's input the block is kept readable (at least the sixteen bytes
// two refills read). An encrypted block is decrypted a byte or two per round, as the loop takes
// them, well before the loop reads them: the decryption is one long chain of dependent steps and
// the decoding another, and the processor works on both at once only when they are close
// together in the instruction stream. A few dozen bytes at a time were markedly slower.
constexpr long kRevealAhead = 32;

// A length or distance from its slot: the base plus the extra bits after the code.
unsigned TakeBase(FastBits& bits, FastSlot slot) {
  unsigned value = slot.value + (uint32_t(bits.buffer >> slot.bits) & LowBitMasks[slot.op]);
  bits.Drop(slot.bits + slot.op);
  return value;
}

// The same from a decode table's leaf, whose code has already been dropped.
unsigned TakeBase(FastBits& bits, const CodeEntry* slot) {
  unsigned value = slot->value + bits.Peek(LowBitMasks[slot->op]);
  bits.Drop(slot->op);
  return value;
}

// The hot loop over one stretch of the input block. One round decodes up to three literals
// and then, unless the third was a literal too, a length with its distance and match (or the
// end of the block). After a literal the buffer is topped up again before a length: a match
// takes at most 15 + 5 + 15 + 13 bits of the 56 a refill leaves, three literals at most 33.
// `cursor` advances over the bytes taken.
int DecodeStretch(Decoder& d, const InputSpan& span, const uint8_t*& cursor,
                  const BlockCodes& codes) {
  FastBits bits{d.buffer, d.count, span.cursor};
  const uint8_t* readable = span.readable;
  const uint8_t* const end = span.end;
  unsigned pos = d.pos;
  uint8_t* const window = d.window;
  const FastSlot* const literals = fastTables.literal;
  const FastSlot* const distances = fastTables.distance;
  constexpr uint32_t kLiteralMask = (1u << kFastLiteralBits) - 1;
  constexpr uint32_t kDistanceMask = (1u << kFastDistanceBits) - 1;
  int result = kMoreSymbols;
  do {
    if (readable - bits.in < kRevealAhead && readable != end) {
      readable = RevealInput(bits.in + kRevealAhead);
    }
    bits.Refill();
    FastSlot slot = literals[bits.Peek(kLiteralMask)];
    if (slot.op == kOpLiteral) {
      bits.Drop(slot.bits);
      window[pos++] = uint8_t(slot.value);
      slot = literals[bits.Peek(kLiteralMask)];
      if (slot.op == kOpLiteral) {
        bits.Drop(slot.bits);
        window[pos++] = uint8_t(slot.value);
        slot = literals[bits.Peek(kLiteralMask)];
        if (slot.op == kOpLiteral) {
          bits.Drop(slot.bits);
          window[pos++] = uint8_t(slot.value);
          continue;
        }
      }
      bits.Refill();
    }
    unsigned length;
    if (slot.op < kOpEndOfBlock) {
      length = TakeBase(bits, slot);
    } else {
      const CodeEntry* leaf = bits.Decode(&codes.literalTable[bits.Peek(codes.literalMask)]);
      if (leaf == nullptr) {
        result = kInflateBadData;
        break;
      }
      if (leaf->op == kOpLiteral) {
        window[pos++] = uint8_t(leaf->value);
        continue;
      }
      if (leaf->op == kOpEndOfBlock) {
        result = kInflateOk;
        break;
      }
      length = TakeBase(bits, leaf);
    }
    unsigned distance;
    slot = distances[bits.Peek(kDistanceMask)];
    if (slot.op < kOpEndOfBlock) {
      distance = TakeBase(bits, slot);
    } else {
      const CodeEntry* leaf =
          codes.distanceTable == nullptr
              ? nullptr
              : bits.Decode(&codes.distanceTable[bits.Peek(codes.distanceMask)]);
      if (leaf == nullptr) {
        result = kInflateBadData;
        break;
      }
      distance = TakeBase(bits, leaf);
    }
    if (distance <= pos) {
      CopyNear(window + pos, distance, length);
      pos += length;
    } else {
      // The source lies in the window's previous lap: the general copy splits it at the
      // window's end. The destination cannot reach the end, so nothing is flushed.
      Decoder near{0, 0, pos, window};
      CopyMatch(near, pos - distance, length);
      pos = near.pos;
    }
  } while (end - bits.in >= kStretchInput && pos < kStretchWindowEnd);
  d.buffer = bits.buffer & ((uint64_t(1) << bits.count) - 1);
  d.count = bits.count;
  d.pos = pos;
  cursor = bits.in;
  return result;
}

// Hands the bytes taken from the input block back to the data path's count; the last one is
// what NextByte would have left in its cell.
void TakeFrom(const uint8_t* start, const uint8_t* cursor) {
  if (cursor == start) return;
  TakeInput(uint32_t(cursor - start));
  state.byteCell = cursor[-1];
}

int DecodeSymbolsFast(Decoder& d, const CodeEntry* literalTable, const CodeEntry* distanceTable,
                      unsigned literalBits, unsigned distanceBits) {
  bool viewsBuilt = false;
  const BlockCodes codes{literalTable, distanceTable, LowBitMasks[literalBits],
                         LowBitMasks[distanceBits]};
  for (;;) {
    InputSpan span = PeekInput();
    int result;
    if (literalTable != nullptr && span.end - span.cursor >= kStretchInput &&
        d.pos < kStretchWindowEnd) {
      if (!viewsBuilt) {
        BuildFastTable(literalTable, literalBits, fastTables.literal, kFastLiteralBits);
        BuildFastTable(distanceTable, distanceBits, fastTables.distance, kFastDistanceBits);
        viewsBuilt = true;
      }
      const uint8_t* cursor;
      result = DecodeStretch(d, span, cursor, codes);
      TakeFrom(span.cursor, cursor);
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
    unsigned run = kWindowSize - d.pos;
    unsigned available = unsigned(span.end - span.cursor);
    if (run > length) run = length;
    if (run > available) run = available;
    RevealInput(span.cursor + run);
    memcpy(d.window + d.pos, span.cursor, run);
    TakeFrom(span.cursor, span.cursor + run);
    d.pos += run;
    length -= run;
    if (d.pos == kWindowSize) {
      FlushWindow(kWindowSize);
      d.pos = 0;
    }
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

// Builds a table from `count` lengths, all equal to `length`.
int BuildUniformTable(unsigned length, unsigned count, unsigned simpleCount,
                      const uint16_t* baseList, const uint16_t* extraList, CodeEntry** table,
                      unsigned* lookupBits) {
  unsigned lengths[kMaxSymbols];
  for (unsigned s = 0; s < count; s++) lengths[s] = length;
  return BuildDecodeTable(lengths, count, simpleCount, baseList, extraList, table, lookupBits);
}

// Decodes one block's symbols with the block's tables, which are released whatever happens.
int DecodeWithTables(unsigned literalBits, unsigned distanceBits) {
  int result = DecodeSymbols(state.literalTable, state.distanceTable, literalBits, distanceBits);
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
    unsigned minimum = symbol == 18 ? 11 : 3;
    if (!Need(d, extraBits)) return kInflateBadData;
    unsigned repeat = minimum + Bits(d, extraBits);
    Drop(d, extraBits);
    if (i + repeat > total) return kInflateBadData;
    if (symbol != 16) previous = 0;
    while (repeat-- > 0) lengths[i++] = previous;
  }
  return kInflateOk;
}

}  // namespace

int InflateStream() {
  state.windowPos = 0;
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

int DecodeBlock(bool* isFinal) {
  Decoder d = LoadDecoder();
  if (!Need(d, 1)) return kInflateBadData;
  *isFinal = (d.buffer & 1) != 0;
  Drop(d, 1);
  if (!Need(d, 2)) return kInflateBadData;
  unsigned type = Bits(d, 2);
  Drop(d, 2);
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
  if (!Need(d, 16)) return kInflateBadData;
  unsigned length = Bits(d, 16);
  Drop(d, 16);
  if (!Need(d, 16)) return kInflateBadData;
  if (Bits(d, 16) != (length ^ 0xffff)) return kInflateBadData;
  Drop(d, 16);
  bool copied = inflateFastPath ? CopyStoredFast(d, length) : CopyStoredPlain(d, length);
  if (!copied) return kInflateBadData;
  StoreDecoder(d);
  return kInflateOk;
}

// RFC 1951 3.2.6: the fixed code. Built per block, like the dynamic ones.
int DecodeFixedBlock() {
  unsigned lengths[kMaxSymbols];
  for (unsigned s = 0; s < 144; s++) lengths[s] = 8;
  for (unsigned s = 144; s < 256; s++) lengths[s] = 9;
  for (unsigned s = 256; s < 280; s++) lengths[s] = 7;
  for (unsigned s = 280; s < 288; s++) lengths[s] = 8;
  unsigned literalBits = kFixedLiteralLookupBits;
  int result = BuildDecodeTable(lengths, 288, 257, LengthBase, LengthExtra, &state.literalTable,
                                &literalBits);
  if (result != kInflateOk) return result;
  // 30 codes of five bits leave two patterns unassigned: result 1 is expected here.
  unsigned distanceBits = kFixedDistanceLookupBits;
  result =
      BuildUniformTable(5, 30, 0, DistanceBase, DistanceExtra, &state.distanceTable, &distanceBits);
  if (result > kInflateBadData) {
    ReleaseTable(state.literalTable);
    return result;
  }
  return DecodeWithTables(literalBits, distanceBits);
}

// RFC 1951 3.2.7: a dynamic block carries its codes as code lengths, themselves coded.
int DecodeDynamicBlock() {
  Decoder d = LoadDecoder();
  if (!Need(d, 5)) return kInflateBadData;
  unsigned literalCount = 257 + Bits(d, 5);
  Drop(d, 5);
  if (!Need(d, 5)) return kInflateBadData;
  unsigned distanceCount = 1 + Bits(d, 5);
  Drop(d, 5);
  if (!Need(d, 4)) return kInflateBadData;
  unsigned lengthCodeCount = 4 + Bits(d, 4);
  Drop(d, 4);
  if (literalCount > 286 || distanceCount > 30) return kInflateBadData;

  unsigned lengths[286 + 30];
  for (unsigned j = 0; j < 19; j++) {
    lengths[CodeLengthOrder[j]] = 0;
  }
  for (unsigned j = 0; j < lengthCodeCount; j++) {
    if (!Need(d, 3)) return kInflateBadData;
    lengths[CodeLengthOrder[j]] = Bits(d, 3);
    Drop(d, 3);
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
  return DecodeWithTables(literalBits, distanceBits);
}

int DecodeSymbols(const CodeEntry* literalTable, const CodeEntry* distanceTable,
                  unsigned literalBits, unsigned distanceBits) {
  Decoder d = LoadDecoder();
  int result = inflateFastPath
                   ? DecodeSymbolsFast(d, literalTable, distanceTable, literalBits, distanceBits)
                   : DecodeSymbolsPlain(d, literalTable, distanceTable, literalBits, distanceBits);
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
      // The next code: a bit-reversed increment of `length` bits.
      unsigned mask = 1u << (length - 1);
      while (pattern & mask) {
        pattern ^= mask;
        mask >>= 1;
      }
      pattern ^= mask;
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
