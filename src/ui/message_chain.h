// Joining catalogue texts that continue over consecutive ids: a text that begins with "!" is
// followed directly by the text of the next id. Portable, so that the rule is tested natively;
// ComposeMessage supplies the string-table loader on Windows.
#pragma once

constexpr int kComposedChars = 512;  // a composed text holds at most 512 characters
constexpr int kPieceCapacity = 514;  // one loaded text, terminator included

enum class ChainStatus { kComplete, kNotFound, kTooLong };

struct ChainOutcome {
  ChainStatus status;
  unsigned failedId;  // the id that was missing or too long
};

// Loads text `id` into `piece` (capacity characters with the terminator); returns its length,
// 0 when there is no such text.
using PieceLoader = int (*)(unsigned id, char* piece, int capacity, void* context);

// Composes the message that starts at `id` into `result` (kComposedChars + 1 characters).
// On failure `result` keeps the pieces appended before the failing one.
ChainOutcome ComposeChain(unsigned id, PieceLoader load, void* context, char* result);
