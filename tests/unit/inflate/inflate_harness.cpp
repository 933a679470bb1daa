#include "unit/inflate/inflate_harness.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "unzip/inflate.h"

namespace inflate_test {
namespace {

struct Harness {
  const std::vector<uint8_t>* stream = nullptr;
  size_t blockSize = kInputBlock;
  size_t readPos = 0;
  std::vector<uint8_t> block;  // exactly the block's bytes, so a read past it is caught
  size_t cursor = 0;
  // Bytes from here on are kept complemented until the decoder reveals them, as an encrypted
  // block is kept encrypted: a look at one too early decodes something else.
  size_t readable = 0;
  bool scramble = false;
  InflateRun* run = nullptr;
};

Harness harness;
uint8_t window[32776];
std::vector<uint8_t> wholeEntry;
OutputWindow outputWindow;

}  // namespace

uint8_t* HarnessWindow() {
  return window;
}

OutputWindow HarnessOutputWindow() {
  return outputWindow;
}

InflateRun RunInflate(const std::vector<uint8_t>& stream, const InflateOptions& options) {
  InflateRun run;
  harness = Harness{};
  harness.stream = &stream;
  harness.blockSize = options.blockSize;
  harness.scramble = options.scramble;
  harness.run = &run;
  if (options.clearWindow) memset(window, 0, sizeof window);
  outputWindow = {window, 0, kWindowSize};
  if (options.wholeEntryRoom > 0) {
    wholeEntry.assign(kWindowSize + options.wholeEntryRoom + 8, 0xA5);
    memcpy(wholeEntry.data(), window, kWindowSize);
    outputWindow = {wholeEntry.data(), kWindowSize, uint32_t(kWindowSize + options.wholeEntryRoom)};
  }
  bool savedFast = inflateFastPath;
  inflateFastPath = options.fast;
  run.result = InflateStream();
  inflateFastPath = savedFast;
  harness.run = nullptr;
  return run;
}

std::vector<std::string> WithoutFlushes(const std::vector<std::string>& events) {
  std::vector<std::string> kept;
  for (const std::string& event : events)
    if (event[0] != 'f') kept.push_back(event);
  return kept;
}

std::vector<uint8_t> ZlibDeflate(const std::vector<uint8_t>& data, int level, int strategy) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::vector<uint8_t> out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace inflate_test

using inflate_test::harness;

// The data path's side of the decoder's seam, served from memory.

int NextByte(uint16_t* target) {
  if (harness.cursor == harness.block.size()) {
    size_t left = harness.stream->size() - harness.readPos;
    if (left == 0) {
      harness.run->overrun++;
      harness.run->events.push_back("e");
      return 0;
    }
    size_t n = std::min(left, harness.blockSize);
    harness.block.assign(harness.stream->begin() + harness.readPos,
                         harness.stream->begin() + harness.readPos + n);
    harness.block.shrink_to_fit();
    harness.readPos += n;
    harness.cursor = 0;
    harness.readable = n;
    if (harness.scramble) {
      for (uint8_t& byte : harness.block) byte = uint8_t(~byte);
      harness.readable = 0;
    }
    harness.run->events.push_back("r" + std::to_string(n));
  }
  if (harness.cursor == harness.readable) RevealInput(harness.block.data() + harness.cursor + 1);
  *target = harness.block[harness.cursor++];
  harness.run->bytesTaken++;
  return 8;
}

InputSpan PeekInput() {
  const uint8_t* start = harness.block.data();
  return {start + harness.cursor, start + harness.readable, start + harness.block.size()};
}

const uint8_t* RevealInput(const uint8_t* upTo) {
  uint8_t* start = harness.block.data();
  size_t wanted = std::min(size_t(upTo - start), harness.block.size());
  for (; harness.readable < wanted; harness.readable++) {
    start[harness.readable] = uint8_t(~start[harness.readable]);
  }
  return start + harness.readable;
}

// The stand-in's blocks are scrambled, not encrypted: the decoder always reveals them through
// RevealInput.
InputDecryption TakeInputDecryption() {
  return {};
}

void GiveBackInputDecryption(InputDecryption) {}

void TakeInput(uint32_t count) {
  if (count > harness.readable - harness.cursor) throw std::logic_error("TakeInput past readable");
  harness.cursor += count;
  harness.run->bytesTaken += count;
}

void FlushWindow(uint32_t count) {
  OutputWindow w = inflate_test::HarnessOutputWindow();
  if (count > w.end || count < w.start) throw std::logic_error("FlushWindow outside the window");
  harness.run->events.push_back("f" + std::to_string(count - w.start));
  harness.run->output.insert(harness.run->output.end(), w.bytes + w.start, w.bytes + count);
}

OutputWindow DecoderWindow() {
  return inflate_test::HarnessOutputWindow();
}
