// Deterministic sample contents for the engine's tests and benchmarks: text, program-like
// binary data, noise and runs, each the same on every machine for a given seed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sample_data {

enum class Kind { kText, kBinary, kRandom, kRun };

inline const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kText:
      return "text";
    case Kind::kBinary:
      return "binary";
    case Kind::kRandom:
      return "random";
    case Kind::kRun:
      return "run";
  }
  return "?";
}

// A small linear congruential generator: reproducible and good enough for test data.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed * 2654435761u + 1) {}
  uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint32_t state_;
};

// Prose-like text: words of a small vocabulary, skewed towards the common ones.
inline void AppendText(std::vector<uint8_t>& out, size_t size, Lcg& rng) {
  static const char* const kWords[] = {
      "the",     "archive", "setup",  "folder",   "install", "of",     "and",    "to",
      "file",    "Kestra",  "window", "program",  "a",       "is",     "with",   "for",
      "message", "entry",   "data",   "progress", "version", "shell",  "copy",   "in",
      "extract", "press",   "cancel", "continue", "system",  "update", "library"};
  constexpr size_t kCount = sizeof kWords / sizeof kWords[0];
  size_t column = 0;
  while (out.size() < size) {
    uint32_t r = rng.Below(kCount * kCount);
    const char* word = kWords[r % kCount < r / kCount ? r % kCount : r / kCount];
    for (const char* c = word; *c && out.size() < size; c++) out.push_back(uint8_t(*c));
    column += strlen(word) + 1;
    if (out.size() < size) out.push_back(column > 70 ? '\n' : rng.Below(12) == 0 ? ',' : ' ');
    if (column > 70) column = 0;
  }
}

// Program-like bytes: instruction-ish sequences with small operands, tables of growing
// 32-bit values, zero padding and embedded strings, in stretches of a few hundred bytes.
inline void AppendBinary(std::vector<uint8_t>& out, size_t size, Lcg& rng) {
  static const uint8_t kOpcodes[] = {0x55, 0x8b, 0x89, 0x83, 0xe8, 0xc3, 0x50, 0x51, 0x6a,
                                     0xff, 0x74, 0x75, 0x0f, 0x85, 0x33, 0xc0, 0x5d, 0x90};
  uint32_t tableValue = 0x401000;
  while (out.size() < size) {
    size_t stretch = 64 + rng.Below(512);
    switch (rng.Below(4)) {
      case 0:
      case 1:
        for (size_t i = 0; i < stretch; i++) {
          out.push_back(kOpcodes[rng.Below(sizeof kOpcodes)]);
          if (rng.Below(3) == 0) out.push_back(uint8_t(rng.Below(16) * 4));
        }
        break;
      case 2:
        for (size_t i = 0; i < stretch / 4; i++) {
          tableValue += rng.Below(64);
          for (int b = 0; b < 4; b++) out.push_back(uint8_t(tableValue >> (8 * b)));
        }
        break;
      default:
        out.insert(out.end(), stretch / 4, 0);
        AppendText(out, out.size() + stretch / 2, rng);
        out.push_back(0);
        break;
    }
  }
  out.resize(size);
}

inline std::vector<uint8_t> Make(Kind kind, size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> out;
  out.reserve(size);
  Lcg rng(seed);
  switch (kind) {
    case Kind::kText:
      AppendText(out, size, rng);
      break;
    case Kind::kBinary:
      AppendBinary(out, size, rng);
      break;
    case Kind::kRandom:
      while (out.size() < size) out.push_back(uint8_t(rng.Next()));
      break;
    case Kind::kRun:
      out.assign(size, uint8_t(0x20 + seed % 64));
      break;
  }
  return out;
}

}  // namespace sample_data
