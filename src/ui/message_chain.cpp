#include "ui/message_chain.h"

#include <string.h>

ChainOutcome ComposeChain(unsigned id, PieceLoader load, void* context, char* result) {
  char piece[kPieceCapacity];
  result[0] = '\0';
  size_t resultLength = 0;
  if (load(id, piece, kPieceCapacity, context) == 0) return {ChainStatus::kNotFound, id};
  for (;;) {
    // A continuation piece counts its "!" here, although only the rest is appended.
    size_t pieceLength = strlen(piece);
    if (resultLength + pieceLength > kComposedChars) return {ChainStatus::kTooLong, id};
    if (piece[0] != '!') {
      memcpy(result + resultLength, piece, pieceLength + 1);
      return {ChainStatus::kComplete, 0};
    }
    memcpy(result + resultLength, piece + 1, pieceLength);
    resultLength += pieceLength - 1;
    ++id;
    if (load(id, piece, kPieceCapacity, context) == 0) return {ChainStatus::kNotFound, id};
  }
}
