// The UTF-8 of the names that an entry flags as such, decoded strictly one character at a time
// (no overlong forms, no surrogates, nothing past U+10FFFF), so that each platform can spell
// the name in its own file-name characters without asking the system to decode it.
#pragma once
#include <stdint.h>

constexpr uint32_t kNotUtf8 = 0xFFFFFFFF;

// Returns the code point of the character at `text` and moves `text` past it; kNotUtf8, with
// `text` left where it was, when the bytes there are not one well-formed character.
uint32_t DecodeUtf8Character(const char*& text);
