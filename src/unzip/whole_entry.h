// ksdist's whole-entry output: a deflated entry whose declared size is known is decoded into one
// buffer of that size (with its history before it) instead of through the 32 KB window, then
// checked and written with one call each. What the entry's CRC, size and messages come to is
// exactly what the 32 KB window's output blocks would have given.
#pragma once
#include <stdint.h>

// Decodes the current deflated entry, into a whole-entry buffer where the data path can have
// one, else through the job's 32 KB window. Returns the decoder's result.
int InflateEntryData();

// Copies the current stored entry through the whole-entry buffer in pieces of many input blocks,
// each read with one call, decrypted where the entry is encrypted, and passed on with one CRC
// and one write; progress is reported as it is when the data is read block by block. False,
// having done nothing, where there is no such buffer.
bool CopyStoredWholeEntry();

// FlushWindow's part when the decoder writes into a whole-entry buffer.
void PassOnWholeEntry(uint32_t count);

// Releases the job's whole-entry buffer; harmless when there is none.
void ReleaseWholeEntryBuffer();
