// The Deflate decoder: turns one entry's compressed bytes into its data through the 32 KB
// history window. It pulls input with NextByte and pushes the window out with FlushWindow; the
// data path implements both, so the decoder knows nothing of files or CRCs. Of encryption it
// knows only what ksdist's fast loop needs to run the data path's decryption inline.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "unzip/decrypt.h"

// Results of InflateStream.
constexpr int kInflateOk = 0;
constexpr int kInflateBadData = 1;   // invalid code, length check, incomplete code ...
constexpr int kInflateBadBlock = 2;  // block type 3 or an over-subscribed code
constexpr int kInflateNoMemory = 3;  // a decode table could not be allocated

constexpr uint32_t kWindowSize = 32768;

// Decodes the current entry's whole Deflate stream.
int InflateStream();
// The stream bits that the decoder fetched and left unused when its stream ended.
unsigned InflateBitsLeft();
// Where the decoder's output ends in its window, also after a failure.
unsigned InflateWindowPosition();

// What the decoder needs from the data path:

// Stores the entry's next compressed (decrypted) byte in *target and returns 8; at the end of
// the entry's data returns 0 and leaves *target unchanged.
int NextByte(uint16_t* target);

// Passes the window's bytes from its start up to `count` on to the output: the whole window
// when it is full, and once at the stream's end the part filled.
void FlushWindow(uint32_t count);

// Where the decoder writes: `bytes` from `start` up to `end`, followed by 8 bytes of slack that
// it may scribble on. Usually the job's 32 KB history window (start 0, end 32,768), which wraps
// around: a distance back from near its start reaches its end. ksdist may instead give a whole
// entry's buffer, with the entry's history in the 32 KB before `start` and room up to `end`
// for all the entry may produce; no distance then reaches before `bytes`.
struct OutputWindow {
  uint8_t* bytes;
  uint32_t start;
  uint32_t end;
};
OutputWindow DecoderWindow();

// SETUP.EXE's decoder is built for size; ksdist's is built for speed and has the extra paths
// that the flags below and in inflate.cpp name.
#if defined(__OPTIMIZE_SIZE__)
constexpr bool kBuiltForSpeed = false;
#else
constexpr bool kBuiltForSpeed = true;
#endif

// SETUP.EXE's decoder knows only the 32 KB window; ksdist's takes either.
constexpr bool kWholeEntryWindows = kBuiltForSpeed;

// The unread rest of the current input block, for the decoder's fast path, which takes input
// straight from it instead of through NextByte. `cursor` is its first byte and `end` the
// block's end (equal when the block is used up; the next NextByte then reads the next block).
// Only the bytes before `readable` may be looked at yet: in an encrypted entry the block is
// decrypted as the decoder gets to it, so that the decryption runs alongside the decoding.
struct InputSpan {
  const uint8_t* cursor;
  const uint8_t* readable;
  const uint8_t* end;
};
InputSpan PeekInput();
// Makes the block readable up to `upTo` (at most its end) and returns the new `readable`.
const uint8_t* RevealInput(const uint8_t* upTo);
// The decryption of an encrypted input block, which ksdist's fast loop takes over for a stretch
// so that it runs beside the decoding with the keys in locals: from `readableEnd` on, the block
// is still to be decrypted, with `keys`. TakeInputDecryption gives it where the block is not yet
// readable to its end (a null `readableEnd` otherwise), and GiveBackInputDecryption takes it
// back. Both pass it by value, so that the loop's copy never has its address taken.
struct InputDecryption {
  DecryptionKeys keys;
  uint8_t* readableEnd;
  // Makes the block readable up to `upTo`, which lies beyond readableEnd.
  void RevealUpTo(uint8_t* upTo) {
    DecryptRun(keys, readableEnd, uint32_t(upTo - readableEnd));
    readableEnd = upTo;
  }
};
InputDecryption TakeInputDecryption();
void GiveBackInputDecryption(InputDecryption decryption);
// Marks `count` bytes from the cursor on as delivered, exactly as `count` calls of NextByte
// would have, so the block is refilled at the same moment.
void TakeInput(uint32_t count);

// The decoder's internals, named so that tests can reach the table builder and the two
// symbol loops.

// One slot of a lookup table. `op` says what the slot is:
//   0..13   a length or distance base in `value`, followed by `op` extra bits
//   15      end of block
//   16      a literal byte (or a code-length symbol) in `value`
//   16 + n  a link to a sub-table of 2^n slots, indexed by the next n bits
//   99      an invalid code
// `bits` is how many stream bits the slot accounts for at its level. Every table is preceded by
// a header slot whose `link` chains the tables built for one code, in allocation order.
struct CodeEntry {
  uint8_t op;
  uint8_t bits;
  union {
    uint16_t value;
    CodeEntry* link;
  };
};

constexpr uint8_t kOpEndOfBlock = 15;
constexpr uint8_t kOpLiteral = 16;
constexpr uint8_t kOpInvalid = 99;

int DecodeBlock(bool* isFinal);
int CopyStoredBlock();
int DecodeFixedBlock();
int DecodeDynamicBlock();
// `lengths` holds the literal/length code's `literalCount` code lengths and then the distance
// code's `distanceCount`, as a dynamic block lists them.
int DecodeSymbols(const CodeEntry* literalTable, const CodeEntry* distanceTable,
                  unsigned literalBits, unsigned distanceBits, const unsigned* lengths,
                  unsigned literalCount, unsigned distanceCount);
int BuildDecodeTable(const unsigned* lengths, unsigned count, unsigned simpleCount,
                     const uint16_t* baseList, const uint16_t* extraList, CodeEntry** table,
                     unsigned* lookupBits);
void FreeDecodeTable(CodeEntry* table);

// Releases the tables of a block whose decoding was cut short by a non-local exit of the job
// (a read error or a cancel taken inside NextByte). The job's clean-up calls it; harmless when
// nothing is held.
void ReleaseInflateTables();

// Where decode tables come from and go back to; FreeDecodeTable releases through the same pair
// that allocated. Tests swap them to make an allocation fail.
extern void* (*inflateAllocate)(size_t bytes);
extern void (*inflateRelease)(void* block);

// Which symbol loop and stored-block copy run: the fast ones that take input straight from the
// input block (the default), or the byte-wise ones that every fast path is tested against.
extern bool inflateFastPath;
