// Reads the header facts, the import table and the export names of a PE image, for tests of the
// shipped binaries.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct PeImage {
  bool valid = false;
  uint16_t machine = 0;
  bool is64 = false;
  bool isDll = false;
  uint16_t subsystem = 0;
  uint16_t subsystemMajor = 0;
  uint16_t subsystemMinor = 0;
  std::map<std::string, std::set<std::string>> imports;  // DLL name -> function names
  std::set<std::string> exports;                         // exported names
};

PeImage ReadPeImage(const std::string& path);
PeImage ParsePeImage(const std::vector<uint8_t>& bytes);
