// What the extraction engine's native tests share: a temporary folder, an observer that records
// everything SETUP.EXE's progress dialog and error boxes would receive, and a fixture that writes
// an archive, runs one job on it and keeps the outcome.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/zip_writer.h"
#include "unzip/extraction.h"
#include "unzip/posix/posix_platform.h"

namespace engine_test {

namespace fs = std::filesystem;

// A folder of its own for one test, removed with everything in it afterwards. Its path holds no
// dot, so that the ".ZIP" rule can be tried in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = "/tmp/ks-engine-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The files below `folder`, as sorted relative paths.
inline std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& item : fs::recursive_directory_iterator(folder))
    if (item.is_regular_file()) names.push_back(fs::relative(item.path(), folder).string());
  std::sort(names.begin(), names.end());
  return names;
}

// Content of `size` bytes that differs at every position within a block.
inline std::string Pattern(size_t size, unsigned seed = 7) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 31 + seed + i / 251) & 0xFF);
  return text;
}

// Records the progress window's messages as "name X" and "progress N", and the error boxes.
class RecordingObserver : public ExtractionObserver {
 public:
  void OnEntryName(const char* name) override { events.push_back(std::string("name ") + name); }
  bool OnProgress(uint16_t units) override {
    events.push_back("progress " + std::to_string(units));
    return onProgress ? onProgress(units) : false;
  }
  bool OnPump() override { return onPump ? onPump() : false; }
  void OnError(int errorClass, const char* text) override {
    errors.push_back(text);
    errorClasses.push_back(errorClass);
  }
  void OnRefusal(const char* entry, const char* reason) override {
    refusals.push_back(std::string(entry) + ": " + reason);
  }

  std::vector<std::string> events;
  std::vector<std::string> errors;
  std::vector<std::string> refusals;  // "entry: reason"
  std::vector<int> errorClasses;
  std::function<bool(uint16_t)> onProgress;
  std::function<bool()> onPump;
};

struct JobOptions {
  bool testOnly = false;
  std::vector<std::string> names = {};  // the selection list
  bool keepFolders = false;
  bool skipEmpty = false;
  bool reportCrc = false;
  bool passwordGiven = false;
  const char* password = nullptr;
  int32_t offset = 0;
  std::optional<std::string> destination = {};  // default: the fixture's out folder
  std::optional<std::string> archivePath = {};  // default: the fixture's archive.zip
};

// Writes archives into a temporary folder and extracts them into its "out" folder.
class EngineTest : public testing::Test {
 protected:
  EngineTest() { fs::create_directory(Out()); }
  ~EngineTest() override { FailAllocationAfter(-1); }

  std::string Out() const { return folder_ / "out"; }
  std::string OutFile(const std::string& name) const { return Out() + "/" + name; }
  std::string ArchivePath() const { return folder_ / "archive.zip"; }

  // Runs one job on `archive`; returns the request's result.
  int32_t Extract(const std::string& archive, const JobOptions& options = {}) {
    WriteBytes(options.archivePath.value_or(ArchivePath()), archive);
    return Run(options);
  }

  int32_t Run(const JobOptions& options = {}) {
    std::string archivePath = options.archivePath.value_or(ArchivePath());
    std::string destination = options.destination.value_or(Out());
    NameListNode* names = nullptr;
    for (const std::string& name : options.names) AppendName(&names, name.c_str());
    ExtractionRequest request = {};
    request.reportCrcErrors = options.reportCrc ? 1 : 0;
    request.archivePath = archivePath.c_str();
    request.destinationFolder = options.testOnly ? nullptr : destination.c_str();
    request.selectedNames = names;
    request.keepFolderNames = options.keepFolders;
    request.archiveOffset = options.offset;
    request.progressWindow = &observer_;
    request.skipEmptyEntries = options.skipEmpty;
    request.passwordGiven = options.passwordGiven || options.password;
    request.password = options.password;
    returned_ = RunExtractionJob(&request);
    FreeNameList(names);
    return request.result;
  }

  // The names announced to the progress window, in order.
  std::vector<std::string> Announced() const {
    std::vector<std::string> names;
    for (const std::string& e : observer_.events)
      if (e.rfind("name ", 0) == 0) names.push_back(e.substr(5));
    return names;
  }

  std::string Format(const char* format, const std::string& value) const {
    std::string text = format;
    text.replace(text.find("%s"), 2, value);
    return text;
  }

  TempFolder folder_;
  RecordingObserver observer_;
  int returned_ = -1;
};

inline ZipEntry Stored(const std::string& name, const std::string& data) {
  ZipEntry entry;
  entry.name = name;
  entry.data = data;
  return entry;
}

}  // namespace engine_test
