// A stand-in for the data path, for testing the Deflate decoder alone: it serves a stream from
// memory in input blocks of a chosen size, collects what FlushWindow passes on, and logs block
// reads and window flushes in the order they happen, so that two runs can be compared exactly.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "unzip/inflate.h"

namespace inflate_test {

constexpr size_t kInputBlock = 28672;

struct InflateRun {
  int result = -1;
  std::vector<uint8_t> output;
  // "r<n>" for a block of n bytes read, "f<n>" for FlushWindow(n), "e" for a read past the end.
  std::vector<std::string> events;
  size_t bytesTaken = 0;  // input bytes delivered to the decoder
  size_t overrun = 0;     // NextByte calls that found the data exhausted
};

struct InflateOptions {
  bool fast = true;
  size_t blockSize = kInputBlock;
  bool clearWindow = true;  // start from a zero-filled window, as a new job does
  bool scramble = false;    // keep each block unreadable until the decoder reveals it
  // When not 0, the decoder writes into a whole-entry buffer with room for this many bytes,
  // after a copy of the 32 KB window as its history, instead of into the window.
  size_t wholeEntryRoom = 0;
};

// Runs InflateStream over `stream` as one entry's data.
InflateRun RunInflate(const std::vector<uint8_t>& stream, const InflateOptions& options = {});

// The window that the harness hands out as the job's slide window.
uint8_t* HarnessWindow();
// Where the decoder writes in the run under way.
OutputWindow HarnessOutputWindow();

// `events` without the window flushes, which a whole-entry buffer makes only at the end.
std::vector<std::string> WithoutFlushes(const std::vector<std::string>& events);

// zlib as a black box: raw Deflate (no header) at the given level and strategy.
std::vector<uint8_t> ZlibDeflate(const std::vector<uint8_t>& data, int level, int strategy);

}  // namespace inflate_test
