// Fuzz target for whole extraction jobs: the input is an archive file. Whatever it holds, each
// job must end (result 0 or 2, never a crash, a leak or a hang), and the next job must run as
// usual. A test-only job runs twice, with the engine's fast paths and with the straightforward
// ones, and both must tell the progress window and the error boxes exactly the same things.
// Then the archive is extracted into a scratch folder, its stored folders kept or not, so that
// name conversion, folder creation and output paths meet every name: nothing may be written
// outside the scratch folder. The destination is the scratch folder or a folder below it with a
// backslash, a long name of four-byte characters or bytes that are no UTF-8 at all; and some
// archives come through a pipe, which cannot seek.
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
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

const std::string& Pipe() {
  static const std::string path = "/tmp/ks-job-fuzz-" + std::to_string(getpid()) + ".pipe";
  return path;
}

// The destination folder, chosen by `choice`: those with a backslash exist, the long ones do not.
std::string Destination(uint8_t choice) {
  std::string folder = Scratch();
  switch (choice % 5) {
    case 1:
      folder += "/a\\b";
      if (mkdir(folder.c_str(), 0700) != 0) abort();
      return folder;
    case 2:
      folder += "/";
      for (int i = 0; i < 20 + choice; ++i) folder += "\xF0\x9F\x98\x80";
      return folder;
    case 3:
      return folder + "/" + std::string(200 + 3 * choice, '\x80');
    case 4:
      return folder + "/" + std::string(choice, 'd');
    default:
      return folder;
  }
}

// Feeds the archive into the pipe from a thread of its own while the job reads the other end.
// The job may stop reading early: the feed then ends with a failed write. It may also never
// open the pipe (the fuzzer's timer signal can interrupt that open): the feed waits for a
// reader only until the job is over.
void FeedPipe(const uint8_t* data, size_t size, const std::atomic<bool>* jobOver) {
  int pipe;
  while ((pipe = open(Pipe().c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
    if (errno != ENXIO || *jobOver) return;
    usleep(200);
  }
  fcntl(pipe, F_SETFL, 0);
  for (size_t done = 0; done < size;) {
    ssize_t put = write(pipe, data + done, size - done);
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  close(pipe);
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
               bool keepFolders = false, const std::string& archive = ArchivePath()) {
  inflateFastPath = fast;
  dataPathFastPath = fast;
  ExtractionRequest request{};
  request.archivePath = archive.c_str();
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
  uint8_t last = size > 0 ? data[size - 1] : 0;
  std::string destination = Destination(size > 1 ? data[size - 2] : 0);
  if (last & 2) {
    static bool pipeMade = [] {
      signal(SIGPIPE, SIG_IGN);
      unlink(Pipe().c_str());
      atexit([] { unlink(Pipe().c_str()); });
      return mkfifo(Pipe().c_str(), 0600) == 0;
    }();
    if (!pipeMade) abort();
    std::atomic<bool> jobOver = false;
    std::thread feed(FeedPipe, data, size, &jobOver);
    RunJob(true, &extracting, destination.c_str(), last & 1, Pipe());
    jobOver = true;
    feed.join();
  } else {
    RunJob(true, &extracting, destination.c_str(), last & 1);
  }
  CheckFence();
  // Nothing of this input is left behind: the fuzzer may stop after any input.
  RemoveFence();
  remove(ArchivePath().c_str());
  return 0;
}
