// SETUP.EXE's command line: where the arguments begin after the program's name, and what they
// ask for: the switches /S, /D=folder, /LOG=file and /? first, then "-argv0" and the path that
// is passed on to the product. Pure text, free of Windows, so that it is tested on its own.
#pragma once

// Skips the program's name (a run of characters above the blank, in which double quotes make
// blanks part of the name) and the blanks and control characters after it. Characters above
// 127 belong to the name, whatever the code page.
const char* CommandTail(const char* commandLine);

constexpr int kCommandPathChars = 260;    // a path with its terminator
constexpr int kCommandFolderChars = 276;  // the /D folder: as much as the dialog's suggestion

// What the command line asks setup to do.
enum class CommandRequest { kInstall, kHelp, kNotUnderstood };

struct CommandLine {
  bool quiet;                             // /S
  bool help;                              // /?
  char folder[kCommandFolderChars];       // /D=folder, or empty
  char logFile[kCommandPathChars];        // /LOG=file, or empty (also when too long for a path)
  char argv0Path[kCommandPathChars];      // the path after -argv0, or empty
  char notUnderstood[kCommandPathChars];  // the first argument that is none of the above
};

// Reads the arguments after the program's name into `line`. Switches come first, their names
// in any case; each is one argument up to a blank, in which double quotes keep blanks and are
// left out ("/D=C:\Program Files\Kestra" and /D="C:\Program Files\Kestra" alike). "-argv0"
// takes the rest of the line: the path after it and its blanks, at most 259 characters, without
// the double quotes around it. An argument that is not understood wins over /?. A line that
// begins with anything else is not read at all.
CommandRequest ReadCommandLine(const char* tail, CommandLine* line);
