// The Deflate decoder: turns one entry's compressed bytes into its data through the 32 KB
// history window. It pulls input with NextByte and pushes the window out with FlushWindow; the
// data path implements both, so the decoder knows nothing of files, CRCs or encryption.
#pragma once
#include <stdint.h>

// Results of InflateStream.
constexpr int kInflateOk = 0;
constexpr int kInflateBadData = 1;   // invalid code, length check, incomplete code ...
constexpr int kInflateBadBlock = 2;  // block type 3 or an over-subscribed code
constexpr int kInflateNoMemory = 3;  // a decode table could not be allocated

constexpr uint32_t kWindowSize = 32768;

// Decodes the current entry's whole Deflate stream.
int InflateStream();

// What the decoder needs from the data path:

// Stores the entry's next compressed (decrypted) byte in *target and returns 8; at the end of
// the entry's data returns 0 and leaves *target unchanged.
int NextByte(uint16_t* target);

// Passes the first `count` bytes of the window on to the output.
void FlushWindow(uint32_t count);

// The job's history window: 32,776 bytes, of which the first 32,768 are the window proper.
uint8_t* SlideWindow();
