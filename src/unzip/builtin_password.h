// The password that the distribution archive's entries are encrypted with. SETUP.EXE uses it
// when a request names none; the distribution tool encrypts with it.
#pragma once

// 44 Latin-1 bytes; the copyright sign is the single byte 0xA9.
constexpr char kBuiltInPassword[] = "Quillfeather\xA9 1987-1995 sample archive text.";
static_assert(sizeof kBuiltInPassword == 45, "44 characters and the NUL");
