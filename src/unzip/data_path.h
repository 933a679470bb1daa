// The entry data path: turns one selected entry into a file. Compressed bytes come from the
// archive in blocks (decrypted when the entry is), decoded bytes go out in blocks through the
// CRC to the output file, and progress reaches the progress window, where Cancel can end the job.
// NextByte, FlushWindow and SlideWindow, which the Deflate decoder calls, are in unzip/inflate.h.
#pragma once
#include <stdint.h>

// Progress is counted in units of this many compressed bytes.
constexpr uint32_t kProgressUnit = 10240;

// Which stored-entry copy and decryption run: the fast ones (stored data copied a stretch at a
// time; encrypted data decrypted only as the decoders reach it, within the block just read), or
// the straightforward ones (byte by byte; each block decrypted whole as it is read) that tests
// hold them against. Either way the same blocks are read at the same moments.
extern bool dataPathFastPath;

// Decodes the current entry into its output file (none in a test-only job). The entry must
// come out whole: a damaged stream or data of another size than declared ends the job, and so
// does a CRC mismatch when the request asks.
void DecodeEntry();

// Adds the output block to the CRC, writes it out and empties it.
void FlushOutput();
// The same with the output block's bytes at `bytes` instead of in the output buffer.
void FlushOutputFrom(const uint8_t* bytes);
// Reads the next input block; returns its size, 0 at the end of the entry's data.
uint32_t RefillInput();

void CreateOutputFile();
void SetOutputFileTime();
// Ends the job with message 1036 unless `written` is the whole output block.
void CheckWrite(int32_t written);
// Ends the job with message 1037: the archive came back short.
[[noreturn]] void FailRead();

void UpdateCrc(const uint8_t* bytes, uint32_t count);

// Adds `count` to the bytes read and, when forced or when another unit has been read since the
// last report, sends PDM_PROGRESS and pumps messages; a cancel ends the job.
void ReportProgress(bool force, uint32_t count);
// Dispatches the waiting messages; true when the user has asked to cancel.
bool PumpMessages();
// Sends the entry's name to the progress window and forces a progress report.
void AnnounceEntry();
