// The one capped text copy that setup, the extraction engine and ksdist share. Portable: it
// needs nothing of the system.
#pragma once
#include <stdint.h>

// Copies at most `capacity` - 1 characters of `source` and terminates the copy; a capacity of 0
// writes nothing.
void CopyText(char* target, const char* source, uint32_t capacity);
