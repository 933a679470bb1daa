#include "setup/long_path.h"

#include <string.h>

namespace {

constexpr int kPrefixChars = 260;  // the growing short prefix that is looked up

const char* NextBackslash(const char* text) {
  return strchr(text, '\\');
}

// How much of `source` is a root that is copied unchanged: "c:\", "c:", "\\server\share\"
// (the whole text when the share is incomplete), or nothing.
int RootLength(const char* source) {
  if (source[0] != '\0' && source[1] == ':') return source[2] == '\\' ? 3 : 2;
  if (source[0] != '\\' || source[1] != '\\') return 0;
  const char* serverEnd = NextBackslash(source + 2);
  const char* shareEnd = serverEnd ? NextBackslash(serverEnd + 1) : nullptr;
  if (!shareEnd) return static_cast<int>(strlen(source));
  return static_cast<int>(shareEnd - source) + 1;
}

bool HasWildcard(const char* text) {
  return strchr(text, '*') || strchr(text, '?');
}

// The growing result: `length` characters of `text`, never more than `capacity`.
struct Expansion {
  char* text;
  int length;
  int capacity;
};

bool Append(Expansion& expansion, const char* piece, int pieceLength) {
  if (expansion.length + pieceLength > expansion.capacity) return false;
  memcpy(expansion.text + expansion.length, piece, pieceLength);
  expansion.length += pieceLength;
  expansion.text[expansion.length] = '\0';
  return true;
}

// Looks up source[0, end), the path up to a backslash, and appends its long name and a
// backslash. The lookup's own text counts against the capacity too, so that a path whose short
// prefix is already too long is refused before its long form is built.
bool AppendDirectory(Expansion& expansion, const char* source, int end, LongNameFinder find,
                     void* context) {
  if (end >= kPrefixChars) return false;
  char prefix[kPrefixChars];
  memcpy(prefix, source, end);
  prefix[end] = '\0';
  char name[kFoundNameChars];
  if (!find(prefix, name, context)) return false;
  if (expansion.length + end > expansion.capacity) return false;
  int nameLength = static_cast<int>(strlen(name));
  if (expansion.length + nameLength + 1 > expansion.capacity) return false;
  return Append(expansion, name, nameLength) && Append(expansion, "\\", 1);
}

// The last component: a wildcard pattern as it stands, else the long name of the whole path
// ("." found for a path such as C:\Dir\. adds nothing).
bool AppendLast(Expansion& expansion, const char* source, const char* last, LongNameFinder find,
                void* context) {
  if (HasWildcard(last)) return Append(expansion, last, static_cast<int>(strlen(last)));
  char name[kFoundNameChars];
  if (!find(source, name, context)) return false;
  if (strcmp(name, ".") == 0) name[0] = '\0';
  return Append(expansion, name, static_cast<int>(strlen(name)));
}

}  // namespace

int ExpandLongPathWith(const char* source, char* result, int capacity, LongNameFinder find,
                       void* context) {
  memset(result, 0, capacity + 1);
  Expansion expansion = {result, 0, capacity};
  if (!Append(expansion, source, RootLength(source))) return 0;
  const char* component = source + expansion.length;
  for (const char* end; (end = NextBackslash(component)) != nullptr; component = end + 1)
    if (!AppendDirectory(expansion, source, static_cast<int>(end - source), find, context))
      return 0;
  if (!AppendLast(expansion, source, component, find, context)) return 0;
  return expansion.length;
}
