// Reads the header facts, the import table, the export names and (in an image that was not
// stripped) the symbol table of a PE image, for tests of the built binaries.
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
  uint32_t timeStamp = 0;                                // the link time stamp
  std::map<std::string, std::set<std::string>> imports;  // DLL name -> function names
  std::set<std::string> exports;                         // exported names
  std::map<std::string, uint32_t> exportAddresses;       // exported name -> its address (RVA)
  std::multimap<uint32_t, std::string> functionSymbols;  // address -> function symbol names
};

PeImage ReadPeImage(const std::string& path);
PeImage ParsePeImage(const std::vector<uint8_t>& bytes);
