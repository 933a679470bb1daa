// Code page 1252, the ANSI code page of Western Windows, on which SETUP.EXE's texts are written:
// which characters it spells, and their upper case as Windows compares file names. ksdist
// judges names with it; the Win32 seam's conversion answers the same on a Western system.
#pragma once
#include <stdint.h>

// True when code page 1252 has the character `code` (a Unicode code point).
bool Cp1252Spells(uint32_t code);

// True when `utf8` is well-formed UTF-8 and code page 1252 spells every character of it.
bool Cp1252SpellsName(const char* utf8);

// The upper case of a code page 1252 character (a code point), as Windows folds the case of
// file names: a-z, the Latin-1 letters à to þ (not ÷), š œ ž ÿ. Any other code comes back.
uint32_t Cp1252UpperCase(uint32_t code);
