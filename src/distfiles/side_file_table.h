// The distribution's seven side files, in the order setup checks and copies them. Portable:
// the distribution tool packs and verifies the same list.
#pragma once

// One side file. A non-zero `replacement` renames the copy: the destination name is `name`
// with its last character replaced (NOTES.TX_ with 'T' becomes NOTES.TXT).
struct SideFileEntry {
  const char* name;
  char replacement;
};

// Ends with a row without a name.
inline constexpr SideFileEntry kSideFiles[] = {
    {"README.TXT", 0},   {"KESTRA.TXT", 0},  {"LICENSE.TXT", 0}, {"VENDOR.TXT", 0},
    {"WHATSNEW.TXT", 0}, {"FILE_ID.DIZ", 0}, {"ORDER.TXT", 0},   {nullptr, 0},
};
