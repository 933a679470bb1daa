// Fuzz target for whole extraction jobs: the input is an archive file. Whatever it holds, each
// job must end (result 0 or 2, never a crash, a leak or a hang), and the next job must run as
// usual. A test-only job runs twice, with the engine's fast paths and with the straightforward
// ones, and both must tell the progress window and the error boxes exactly the same things.
// Then the archive is extracted into a scratch folder, its stored folders kept or not, so that
// name conversion, folder creation and output paths meet every name: nothing may be written
// outside the scratch folder.
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "unzip/data_path.h"
#include "unzip/extraction.h"
#include "unzip/inflate.h"
#include "unzip/posix/posix_platform.h"

namespace {

// Records what the progress window and the error boxes receive.
class RecordingObserver : public ExtractionObserver {
 public:
  void OnEntryName(const char* name) override { events.push_back(std::string("name ") + name); }
  bool OnProgress(uint16_t units) override {
    events.push_back("progress " + std::to_string(units));
    return false;
  }
  void OnError(int errorClass, const char* text) override {
    events.push_back("error " + std::to_string(errorClass) + " " + text);
  }
  void OnRefusal(const char* entry, const char* reason) override {
    events.push_back(std::string("refused ") + entry + ": " + reason);
  }
  std::vector<std::string> events;
};

const std::string& ArchivePath() {
  static const std::string path = "/tmp/ks-job-fuzz-" + std::to_string(getpid()) + ".zip";
  return path;
}

// The scratch folder sits in a folder of its own, which must hold nothing else afterwards.
const std::string& Fence() {
  static const std::string path = "/tmp/ks-job-fuzz-" + std::to_string(getpid()) + ".d";
  return path;
}

std::string Scratch() {
  return Fence() + "/scratch";
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

void RemoveFence() {
  nftw(Fence().c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void EmptyFence() {
  RemoveFence();
  if (mkdir(Fence().c_str(), 0700) != 0 || mkdir(Scratch().c_str(), 0700) != 0) abort();
}

// Anything in the fence but the scratch folder was written outside it.
void CheckFence() {
  DIR* listing = opendir(Fence().c_str());
  if (!listing) abort();
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != ".." && name != "scratch") {
      fprintf(stderr, "written outside the destination: %s\n", name.c_str());
      abort();
    }
  }
  closedir(listing);
}

int32_t RunJob(bool fast, RecordingObserver* observer, const char* destination = nullptr,
               bool keepFolders = false) {
  inflateFastPath = fast;
  dataPathFastPath = fast;
  ExtractionRequest request{};
  request.archivePath = ArchivePath().c_str();
  request.destinationFolder = destination;
  request.keepFolderNames = keepFolders;
  request.progressWindow = observer;
  request.reportCrcErrors = 1;
  if (RunExtractionJob(&request) != 1) abort();
  if (request.result != 0 && request.result != kAbortError) {
    fprintf(stderr, "job ended with %d\n", request.result);
    abort();
  }
  return request.result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = fopen(ArchivePath().c_str(), "wb");
  if (!file) abort();
  if (size > 0 && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  RecordingObserver plain, fast;
  int32_t plainResult = RunJob(false, &plain);
  int32_t fastResult = RunJob(true, &fast);
  if (fastResult != plainResult || fast.events != plain.events) {
    fprintf(stderr, "fast paths differ: result %d/%d, %zu/%zu events\n", fastResult, plainResult,
            fast.events.size(), plain.events.size());
    abort();
  }
  EmptyFence();
  RecordingObserver extracting;
  std::string scratch = Scratch();
  RunJob(true, &extracting, scratch.c_str(), size > 0 && (data[size - 1] & 1));
  CheckFence();
  // Nothing of this input is left behind: the fuzzer may stop after any input.
  RemoveFence();
  remove(ArchivePath().c_str());
  return 0;
}
