// The POSIX side of the extractor's platform seam, for ksdist and the native tests: the job's
// progress window is an ExtractionObserver, stored names go from code page 437 to UTF-8, and
// file times are set from the DOS stamp as local time. Also small helpers for building requests.
#pragma once
#include <stdint.h>

#include "unzip/extraction.h"

// Receives what SETUP.EXE's progress dialog and error boxes would: pass its address as the
// request's progressWindow. Texts are UTF-8.
class ExtractionObserver {
 public:
  // Every entry the walk reads, extracted or skipped, by its whole name as written.
  virtual void OnEntryRead(const char* /*name*/) {}
  // Each entry decoded: the base name that the progress dialog shows.
  virtual void OnEntryName(const char* /*name*/) {}
  // PDM_PROGRESS: true asks the job to stop, as a non-zero reply does.
  virtual bool OnProgress(uint16_t /*units*/) { return false; }
  // The message pump after each progress report; returns the cancel flag.
  virtual bool OnPump() { return false; }
  // The error box: its class (7000 ...) and its text.
  virtual void OnError(int /*errorClass*/, const char* /*text*/) {}
  // After the error box of an entry's refusal: the entry (as written) and the reason in words,
  // which the box does not say.
  virtual void OnRefusal(const char* /*entry*/, const char* /*reason*/) {}

 protected:
  ~ExtractionObserver() = default;
};

// Appends a copy of `name` to the selection list at *list; the list is freed by FreeNameList.
void AppendName(NameListNode** list, const char* name);
void FreeNameList(NameListNode* list);

// Converts a code page 437 text to UTF-8 (at most capacity - 1 bytes, whole characters only).
void Cp437ToUtf8(const char* source, char* target, uint32_t capacity);
// The way back, for names that go into an archive: false when `source` is not UTF-8, holds a
// character that code page 437 lacks, or does not fit in capacity - 1 bytes.
bool Utf8ToCp437(const char* source, char* target, uint32_t capacity);

// For tests: after `successes` more successful allocations, the next allocation of the
// extractor fails (once). A negative count turns this off.
void FailAllocationAfter(int successes);
