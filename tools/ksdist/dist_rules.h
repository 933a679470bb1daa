// What `ksdist pack` and `ksdist verify` agree on about a distribution folder: its fixed names,
// finding a file as Windows does (case ignored), file times as Windows sees them, and the
// names that SETUP.EXE can install from setup.ks.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "common/install_names.h"

constexpr const char kSetupExeName[] = "SETUP.EXE";
constexpr const char kArchiveName[] = "setup.ks";
constexpr const char kMainProgramName[] = "KESTRA32.EXE";
constexpr const char kMainProgramStoredName[] = "KESTRA32.EX_";  // renamed by SETUP.EXE
constexpr const char kStubLibraryName[] = "KSSHLSTB.DLL";        // written from SETUP.EXE

// The longest product file name that still fits in a Windows path (259 characters) below the
// install folder setup suggests on a fresh machine, C:\Program Files\Kestra.
constexpr const char kSuggestedInstallFolder[] = "C:\\Program Files\\Kestra\\";
constexpr size_t kLongestProductName = 259 - (sizeof kSuggestedInstallFolder - 1);

// The path of `name` in `folder`, found as Windows finds it: an exact match first, else any
// entry whose name differs only in the case of ASCII letters.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& name);

bool SameNameIgnoringCase(const std::string& a, const std::string& b);
std::string UpperAscii(std::string text);
// The characters of `name` (UTF-8) in upper case as Windows compares file names spelled in
// code page 1252: "café.txt" and "CAFÉ.TXT" are one name. A byte that is not UTF-8 stands for
// itself.
std::u32string UpperAsWindows(const std::string& name);

// A file time as stat reports it: seconds and nanoseconds since 1970.
using UnixFileTime = decltype(stat::st_mtim);

// A last-write time as Windows sees it: 100-nanosecond ticks since 1601-01-01 UTC.
int64_t WindowsFileTime(const UnixFileTime& time);
// "2024-05-17 12:34:56.123456789 UTC".
std::string FormatTime(const UnixFileTime& time);
// "1 s", "100 ns", "2.5000000 s": a difference of Windows ticks, without its sign.
std::string FormatTickDifference(int64_t ticks);
// 1234567 -> "1,234,567".
std::string Grouped(uint64_t value);

// Why SETUP.EXE could not install a product file under the base name `name` (UTF-8), or ""
// when it can: names that Windows cannot hold or that address a device, names too long for the
// install folder, the names of the side files and of the stub library, which setup writes
// itself.
std::string InstalledNameProblem(const std::string& name);

// Collects the base names that setup.ks will install and reports collisions: setup flattens
// folders and Windows ignores case (of accented letters too), so two such names would silently
// overwrite one another.
class InstalledNames {
 public:
  // Adds `name`, which came from `source`; returns the source it collides with, if any.
  std::optional<std::string> Add(const std::string& name, const std::string& source);
  bool Contains(const std::string& name) const { return names_.count(UpperAsWindows(name)) > 0; }
  size_t size() const { return names_.size(); }

 private:
  std::map<std::u32string, std::string> names_;  // name in upper case -> source
};
