#include "dist_rules.h"

#include <dirent.h>
#include <time.h>

#include <cstdio>
#include <cstring>

#include "distfiles/side_file_table.h"
#include "unzip/cp1252.h"
#include "unzip/utf8.h"
#include "unzip/walk.h"

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;
constexpr int64_t kTicksPerSecond = 10000000;

// Characters that Windows file names cannot hold (the colon and separators are the engine's
// own refusal).
bool IsForbiddenCharacter(unsigned char c) {
  return c < 0x20 || std::strchr("<>\"|?*", c) != nullptr;
}

size_t CharacterCount(const std::string& utf8) {
  size_t count = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

}  // namespace

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  return UpperAscii(a) == UpperAscii(b);
}

std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& name) {
  std::string exact = folder + "/" + name;
  struct stat status;
  if (stat(exact.c_str(), &status) == 0) return exact;
  DIR* listing = opendir(folder.c_str());
  if (!listing) return std::nullopt;
  std::optional<std::string> found;
  while (dirent* entry = readdir(listing)) {
    if (SameNameIgnoringCase(entry->d_name, name)) {
      found = folder + "/" + entry->d_name;
      break;
    }
  }
  closedir(listing);
  return found;
}

int64_t WindowsFileTime(const UnixFileTime& time) {
  return (static_cast<int64_t>(time.tv_sec) + kEpochDifference) * kTicksPerSecond +
         time.tv_nsec / 100;
}

std::string FormatTime(const UnixFileTime& time) {
  struct tm utc;
  gmtime_r(&time.tv_sec, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%09ld UTC", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, time.tv_nsec);
  return text;
}

std::string FormatTickDifference(int64_t ticks) {
  uint64_t size = ticks < 0 ? -static_cast<uint64_t>(ticks) : ticks;
  char text[64];
  if (size % kTicksPerSecond == 0)
    std::snprintf(text, sizeof text, "%llu s",
                  static_cast<unsigned long long>(size / kTicksPerSecond));
  else if (size < kTicksPerSecond)
    std::snprintf(text, sizeof text, "%llu ns", static_cast<unsigned long long>(size * 100));
  else
    std::snprintf(text, sizeof text, "%llu.%07llu s",
                  static_cast<unsigned long long>(size / kTicksPerSecond),
                  static_cast<unsigned long long>(size % kTicksPerSecond));
  return text;
}

std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

std::string InstalledNameProblem(const std::string& name) {
  if (!IsPlainFileName(name.c_str(), static_cast<uint32_t>(name.size())))
    return "SETUP.EXE refuses to write this name (a device name, a colon, or only dots and "
           "blanks)";
  for (unsigned char c : name)
    if (IsForbiddenCharacter(c)) return "Windows file names cannot hold the characters <>\"|?*";
  if (!Cp1252SpellsName(name.c_str()))
    return "SETUP.EXE writes names in the Windows ANSI code page, and code page 1252 (Western "
           "Windows) cannot spell this one";
  if (name.back() == '.' || name.back() == ' ')
    return "Windows drops a final dot or blank from a file name";
  if (CharacterCount(name) > kLongestProductName)
    return "the name is longer than " + std::to_string(kLongestProductName) +
           " characters and does not fit in a Windows path below " + kSuggestedInstallFolder;
  for (const SideFileEntry* row = kSideFiles; row->name; ++row)
    if (SameNameIgnoringCase(name, row->name))
      return "this is the name of a side file, which SETUP.EXE copies itself";
  if (SameNameIgnoringCase(name, kStubLibraryName))
    return "this is the stub library, which SETUP.EXE writes from its own resources";
  if (SameNameIgnoringCase(name, kRollbackFolderName))
    return "SETUP.EXE keeps its journal and backup during an installation in a folder of this name";
  return "";
}

std::u32string UpperAsWindows(const std::string& name) {
  std::u32string upper;
  for (const char* p = name.c_str(); *p;) {
    uint32_t code = DecodeUtf8Character(p);
    if (code == kNotUtf8) code = static_cast<uint8_t>(*p++);
    upper += static_cast<char32_t>(Cp1252UpperCase(code));
  }
  return upper;
}

std::optional<std::string> InstalledNames::Add(const std::string& name, const std::string& source) {
  auto [at, added] = names_.emplace(UpperAsWindows(name), source);
  if (added) return std::nullopt;
  return at->second;
}
