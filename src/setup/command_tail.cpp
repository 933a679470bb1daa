#include "setup/command_tail.h"

namespace {

// Compared as unsigned: a name such as C:\Téléchargements\SETUP.EXE goes on past the é.
bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

const char* CommandTail(const char* commandLine) {
  const char* p = commandLine;
  bool quoted = false;
  for (; *p && (quoted || !IsBlankOrControl(*p)); ++p)
    if (*p == '"') quoted = !quoted;
  while (*p && IsBlankOrControl(*p)) ++p;
  return p;
}
