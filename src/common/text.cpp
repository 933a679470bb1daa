#include "common/text.h"

void CopyText(char* target, const char* source, uint32_t capacity) {
  if (capacity == 0) return;
  uint32_t i = 0;
  for (; i + 1 < capacity && source[i]; ++i) target[i] = source[i];
  target[i] = '\0';
}
