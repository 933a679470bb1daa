#include "setup/command_tail.h"

#include <string.h>

#include "common/text.h"

namespace {

// Compared as unsigned: a name such as C:\Téléchargements\SETUP.EXE goes on past the é.
bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// The blanks between arguments: spaces and tabs.
bool IsBlankOrTab(char c) {
  return c == ' ' || c == '\t';
}

const char* SkipBlanks(const char* text) {
  while (IsBlankOrTab(*text)) ++text;
  return text;
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text after `name` (lower case) when `text` begins with it in any case, else null.
const char* AfterName(const char* text, const char* name) {
  for (; *name; ++text, ++name)
    if (LowerAscii(*text) != *name) return nullptr;
  return text;
}

// Room for the longest switch setup takes whole: "/D=" and a folder. A longer argument is cut,
// which leaves a folder that the folder checks refuse and a log name too long to be used.
constexpr int kArgumentChars = kCommandFolderChars + 8;

// Copies the argument at `text` into `argument`, up to the first blank outside double quotes,
// the quotes left out; returns where it ends.
const char* ReadArgument(const char* text, char* argument) {
  bool quoted = false;
  int length = 0;
  for (; *text && (quoted || !IsBlankOrTab(*text)); ++text) {
    if (*text == '"')
      quoted = !quoted;
    else if (length < kArgumentChars - 1)
      argument[length++] = *text;
  }
  argument[length] = '\0';
  return text;
}

// Takes one switch into `line`; false when `argument` is none that setup knows.
bool ReadSwitch(const char* argument, CommandLine* line) {
  const char* value;
  if ((value = AfterName(argument, "/s")) && !*value) {
    line->quiet = true;
  } else if ((value = AfterName(argument, "/?")) && !*value) {
    line->help = true;
  } else if ((value = AfterName(argument, "/d=")) && *value) {
    CopyText(line->folder, value, sizeof line->folder);
  } else if ((value = AfterName(argument, "/log=")) && *value) {
    // A name that does not fit is not cut into another file's name: the run goes without a log.
    line->logFile[0] = '\0';
    if (strlen(value) < sizeof line->logFile) CopyText(line->logFile, value, sizeof line->logFile);
  } else {
    return false;
  }
  return true;
}

// The path after "-argv0" and its blanks. A path in double quotes is taken without them: the
// launch puts quotes of its own around it.
void ReadArgv0Path(const char* text, char* argv0Path) {
  size_t capacity = kCommandPathChars;
  if (*text == '"') {
    const char* closing = strchr(++text, '"');
    if (closing && static_cast<size_t>(closing - text) < capacity) capacity = closing - text + 1;
  }
  CopyText(argv0Path, text, capacity);
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

CommandRequest ReadCommandLine(const char* tail, CommandLine* line) {
  *line = CommandLine{};
  bool understood = true;
  const char* text = SkipBlanks(tail);
  // A line that begins with neither a switch nor -argv0 is left unread, as setup always has:
  // the product then gets an empty path.
  const char* first = *text == '"' ? text + 1 : text;  // a switch may be quoted as a whole
  if (*text && *first != '/' && !AfterName(text, "-argv0")) return CommandRequest::kInstall;
  const char* afterArgv0 = nullptr;
  while (*text && !(afterArgv0 = AfterName(text, "-argv0"))) {
    char argument[kArgumentChars];
    text = SkipBlanks(ReadArgument(text, argument));
    if (ReadSwitch(argument, line) || !understood) continue;
    understood = false;
    CopyText(line->notUnderstood, argument, sizeof line->notUnderstood);
  }
  if (*text) ReadArgv0Path(SkipBlanks(afterArgv0), line->argv0Path);
  if (!understood) return CommandRequest::kNotUnderstood;
  return line->help ? CommandRequest::kHelp : CommandRequest::kInstall;
}
