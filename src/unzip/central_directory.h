// The central directory: the one rule for which end record counts (the last one in the file
// that its comment fits behind), and an index of the central records by the position of their
// local headers, through which the walk checks every local entry. The index is read once, at
// the job's start, and holds exactly as many records as the end record says.
#pragma once
#include <stdint.h>

// What the walk needs of one central record. The CRC and the two sizes stand in the order of a
// local header's, so that they can be taken over in one piece.
struct CentralRecord {
  uint32_t localPosition;  // file position of the entry's local header
  uint32_t crc;
  uint32_t compressedSize;
  uint32_t uncompressedSize;
  uint32_t nameCrc;  // CRC-32 of the whole stored name
  uint16_t nameLength;
  uint16_t method;
  uint16_t flags;
  bool zip64;  // its sizes are kept in a Zip64 record
};

struct CentralDirectory {
  int reason;              // kReasonNone when the records are indexed, else why they are not
  bool endFound;           // endPosition holds the end record that counts
  uint32_t endPosition;    // file position of that end record
  uint32_t entryCount;     // the entries it lists
  CentralRecord* records;  // entryCount of them by localPosition; null when there are none
};

// Looks for the end record from the end of the file backwards and indexes the directory it
// describes. An archive that cannot seek (a pipe) has none that can be found. Leaves the archive
// anywhere: the caller positions it.
void ReadCentralDirectory();

// The record of the local header at `position`, or null.
const CentralRecord* FindCentralRecord(uint32_t position);

// True when the walk ends at an end record found at `position`: the one that counts, or, when
// none could be found in advance, the first one met.
bool IsCountedEndRecord(uint32_t position);

void ReleaseCentralDirectory();
