// Builds Deflate bitstreams by hand, field by field, least significant bit first as RFC 1951
// packs them. Huffman codes go in with PutCode, which writes the code's first bit first.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace inflate_test {

class BitWriter {
 public:
  // Writes the low `count` bits of `value`, bit 0 first (header fields, extra bits).
  BitWriter& Put(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; i++) PutBit((value >> i) & 1);
    return *this;
  }
  // Writes a Huffman code of `length` bits, most significant bit first.
  BitWriter& PutCode(uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) PutBit((code >> i) & 1);
    return *this;
  }
  // Pads to the next byte boundary with zero bits.
  BitWriter& Align() {
    while (used_ != 0) PutBit(0);
    return *this;
  }
  BitWriter& Bytes(const std::vector<uint8_t>& bytes) {
    Align();
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  std::vector<uint8_t> Finish() {
    Align();
    return bytes_;
  }

  // The fixed code (RFC 1951 3.2.6).
  BitWriter& FixedLiteral(unsigned symbol) {
    if (symbol < 144) return PutCode(0x30 + symbol, 8);
    if (symbol < 256) return PutCode(0x190 + symbol - 144, 9);
    if (symbol < 280) return PutCode(symbol - 256, 7);
    return PutCode(0xc0 + symbol - 280, 8);
  }
  BitWriter& FixedDistance(unsigned symbol) { return PutCode(symbol, 5); }

 private:
  void PutBit(unsigned bit) {
    if (used_ == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<uint8_t>(bit << used_);
    used_ = (used_ + 1) % 8;
  }
  std::vector<uint8_t> bytes_;
  unsigned used_ = 0;
};

}  // namespace inflate_test

namespace inflate_test {

// A Huffman code given by its code lengths, with the canonical codes RFC 1951 3.2.2 assigns.
class HuffmanCode {
 public:
  explicit HuffmanCode(std::vector<unsigned> lengths) : lengths_(std::move(lengths)) {
    unsigned counts[17] = {};
    for (unsigned l : lengths_) counts[l]++;
    counts[0] = 0;
    unsigned next[17] = {};
    unsigned code = 0;
    for (unsigned bits = 1; bits <= 16; bits++) {
      code = (code + counts[bits - 1]) << 1;
      next[bits] = code;
    }
    codes_.resize(lengths_.size());
    for (size_t s = 0; s < lengths_.size(); s++) {
      if (lengths_[s] != 0) codes_[s] = next[lengths_[s]]++;
    }
  }
  // Writes the code of `symbol`.
  void Put(BitWriter& bits, unsigned symbol) const {
    bits.PutCode(codes_[symbol], lengths_[symbol]);
  }
  const std::vector<unsigned>& lengths() const { return lengths_; }

 private:
  std::vector<unsigned> lengths_;
  std::vector<uint32_t> codes_;
};

// Lengths for `count` symbols: all 0 except the ones listed as {symbol, length}.
inline std::vector<unsigned> Lengths(size_t count,
                                     std::initializer_list<std::pair<unsigned, unsigned>> used) {
  std::vector<unsigned> lengths(count, 0);
  for (auto [symbol, length] : used) lengths[symbol] = length;
  return lengths;
}

// RFC 1951 3.2.7: the order of the code-length code's lengths in a dynamic block header.
inline constexpr unsigned kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                  11, 4,  12, 3, 13, 2, 14, 1, 15};

// Writes the first `count` code-length-code lengths (HCLEN + 4 of them), 3 bits each.
inline void PutCodeLengthLengths(BitWriter& bits, const HuffmanCode& code, unsigned count) {
  for (unsigned j = 0; j < count; j++) bits.Put(code.lengths()[kCodeLengthOrder[j]], 3);
}

}  // namespace inflate_test
