#include "setup/folder_rules.h"

#include <string.h>

#include "unzip/walk.h"

namespace {

constexpr char kProductPrefix[] = "kestra";
constexpr int kProductPrefixLength = sizeof kProductPrefix - 1;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// A drive is followed by its root: "C:Kestra" would lie below the drive's current folder. A
// network path names a server: "\\" alone is the root of the current drive.
bool HasFolderForm(const char* text) {
  if (IsSeparator(text[0]) && text[1] == text[0]) return text[2] && !IsSeparator(text[2]);
  return text[0] && text[1] == ':' && (!text[2] || IsSeparator(text[2]));
}

// Windows drops the blanks and dots at the end of a folder's name when it creates the folder,
// but not from a path that goes through it: such a folder would be made under one name and
// used under another ("C:\Kestra " from a batch variable). "." and ".." are left alone.
bool HasLevelEndingInBlankOrDot(const char* text) {
  const char* level = text;
  for (const char* p = text;; ++p) {
    if (*p && !IsSeparator(*p)) continue;
    long length = p - level;
    bool dots = level[0] == '.' && (length == 1 || (length == 2 && level[1] == '.'));
    if (length > 0 && !dots && (p[-1] == ' ' || p[-1] == '.')) return true;
    if (!*p) return false;
    level = p + 1;
  }
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
  if (!HasFolderForm(text) || HasLevelEndingInBlankOrDot(text)) return false;
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

bool IsDevicePath(const char* path) {
  if (IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == '.' || path[2] == '?') &&
      IsSeparator(path[3]))
    return true;
  int length = static_cast<int>(strlen(path));
  const char* name = path + FindLast(path, length, IsSeparator) + 1;
  return !IsPlainFileName(name, static_cast<uint32_t>(path + length - name));
}
