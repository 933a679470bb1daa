#include "setup/folder_rules.h"

#include <string.h>

namespace {

constexpr char kProductPrefix[] = "kestra";
constexpr int kProductPrefixLength = sizeof kProductPrefix - 1;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool HasFolderForm(const char* text) {
  if (text[0] == '\0') return false;
  if (text[0] == '\\' && text[1] == '\\') return true;
  if (text[0] == '/' && text[1] == '/') return true;
  return text[1] == ':';
}

// The length of the install folder that `text` becomes: normalised, then with a separator.
int InstallFolderLength(const char* text) {
  char folder[kFolderPathChars + 1];
  memcpy(folder, text, strlen(text) + 1);
  NormalizeFolderText(folder);
  int length = static_cast<int>(strlen(folder));
  return IsSeparator(folder[length - 1]) ? length : length + 1;
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithProductName(const char* name) {
  for (int i = 0; i < kProductPrefixLength; ++i)
    if (LowerAscii(name[i]) != kProductPrefix[i]) return false;
  return true;
}

// The last character of text[0, length) that `pick` selects, or -1.
int FindLast(const char* text, int length, bool (*pick)(char)) {
  for (int i = length - 1; i >= 0; --i)
    if (pick(text[i])) return i;
  return -1;
}

// The association separates the program from its file pattern with a space; a tab is part of
// the path.
bool IsSpaceCharacter(char c) {
  return c == ' ';
}

}  // namespace

bool IsAcceptableFolderText(const char* text) {
  if (!HasFolderForm(text)) return false;
  // Longer texts cannot become a usable folder; the check keeps the copy below in bounds.
  if (strlen(text) >= static_cast<size_t>(kFolderPathChars)) return false;
  return InstallFolderLength(text) + kLongestFileName < kFolderPathChars;
}

void NormalizeFolderText(char* text) {
  size_t length = strlen(text);
  if (length == 2 && text[1] == ':') {
    text[2] = '\\';
    text[3] = '\0';
  } else if (length > 0 && text[length - 1] == '\\') {
    text[length - 1] = '\0';
  }
}

bool AssociatedProductFolder(const char* association, char* folder, int capacity) {
  int length = static_cast<int>(strlen(association));
  int blank = FindLast(association, length, IsSpaceCharacter);
  if (blank >= 0) length = blank;  // drops the file pattern after the program
  int separator = FindLast(association, length, IsSeparator);
  if (separator < 0) return false;
  int nameLength = length - separator - 1;
  if (nameLength < kProductPrefixLength || !StartsWithProductName(association + separator + 1))
    return false;
  if (separator >= capacity) return false;
  memcpy(folder, association, separator);
  folder[separator] = '\0';
  return true;
}
