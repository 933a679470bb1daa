// Fuzz target for a whole test-only extraction job: the input is an archive file. Whatever it
// holds, the job must end (result 0 or 2, never a crash, a leak or a hang), and the next job
// must run as usual.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "unzip/extraction.h"
#include "unzip/posix/posix_platform.h"

namespace {

// Takes the job's error boxes quietly; the fuzzer's own reports stay on stderr.
class QuietObserver : public ExtractionObserver {};

const std::string& ArchivePath() {
  static const std::string path = "/tmp/ks-job-fuzz-" + std::to_string(getpid()) + ".zip";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = fopen(ArchivePath().c_str(), "wb");
  if (!file) abort();
  if (size > 0 && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  QuietObserver observer;
  ExtractionRequest request{};
  request.archivePath = ArchivePath().c_str();
  request.progressWindow = &observer;
  request.reportCrcErrors = 1;
  if (RunExtractionJob(&request) != 1) abort();
  if (request.result != 0 && request.result != kAbortError) {
    fprintf(stderr, "job ended with %d\n", request.result);
    abort();
  }
  return 0;
}
