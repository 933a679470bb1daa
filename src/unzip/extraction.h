// The extractor's public face: the request a caller fills to unpack one ZIP archive, the list of
// names it may select, and the job routine that runs one request from start to end.
#pragma once
#include <stdint.h>

// One name of a selection list. The name is stored in the node right after the link, so a node
// is allocated with room for the name's characters and its NUL. Folders are separated by slashes.
struct NameListNode {
  NameListNode* next;
  char name[1];  // continues past the end of the record
};

// A caller's request for one extraction job. The caller owns it; the job writes only `result`.
struct ExtractionRequest {
  uint16_t reportCrcErrors;       // 1: a CRC mismatch is reported and ends the job
  const char* archivePath;        // the archive file
  const char* destinationFolder;  // null: test only, nothing is created
  NameListNode* selectedNames;    // null: every file entry
  int32_t keepFolderNames;        // set: stored folders are reproduced below the destination
  int32_t archiveOffset;          // where the ZIP data begins in the file
  void* progressWindow;           // receives progress, owns the error boxes (see platform.h)
  int32_t result;                 // 0, or the abort code; set to 0 by the caller beforehand
  int32_t skipEmptyEntries;       // set: entries of uncompressed size 0 are skipped
  int32_t passwordGiven;          // set: `password` replaces the built-in password
  const char* password;           // null with passwordGiven set: the job holds no password
  int32_t testOnly;  // set: nothing is created, but each entry's path below destinationFolder
                     // is still built and judged as an extraction would
};

// Abort codes left in `result`.
constexpr int32_t kAbortError = 2;       // an error ended the job; its message has been shown
constexpr int32_t kAbortCancelled = 99;  // the user cancelled; no message

// Runs one job. Returns 0 when a job is already running (nothing else happens), otherwise 1;
// the outcome is in request->result.
int RunExtractionJob(ExtractionRequest* request);
