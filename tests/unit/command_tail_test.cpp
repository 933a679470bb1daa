// Where SETUP.EXE's own start-up code finds the arguments after the program's name, and what
// they ask for: the switches, then -argv0 and its path.
#include "setup/command_tail.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CommandTail, SkipsTheProgramNameAsWindowsProgramsDo) {
  struct Case {
    const char* commandLine;
    const char* tail;
  } cases[] = {
      {"\"C:\\Program Files\\SETUP.EXE\" -argv0 C:\\x", "-argv0 C:\\x"},
      // Characters above 127 belong to the name, unquoted too.
      {"C:\\T\xe9l\xe9"
       "chargements\\SETUP.EXE -argv0 C:\\x",
       "-argv0 C:\\x"},
      {"C:\\\xff\\SETUP.EXE \xe9t\xe9", "\xe9t\xe9"},
      {"SETUP.EXE", ""},
      {"", ""},
      {"SETUP.EXE \t\x01  -a  b ", "-a  b "},
      {"\"C:\\a b\"c d e", "d e"},  // a quote only hides blanks; the name goes on after it
      {"\"C:\\no end -a", ""},
      {"SETUP.EXE \"quoted tail\"", "\"quoted tail\""},
  };
  for (const Case& c : cases) EXPECT_STREQ(CommandTail(c.commandLine), c.tail) << c.commandLine;
}

TEST(CommandLine, ReadsTheSwitchesAndThenTheArgv0Path) {
  const std::string longName(300, 'x');
  struct Case {
    std::string tail;
    CommandRequest request;
    bool quiet;
    std::string folder, logFile, argv0Path, notUnderstood;
  } cases[] = {
      {"", CommandRequest::kInstall, false, "", "", "", ""},
      {" -ARGV0   C:\\Temp\\pkg.exe", CommandRequest::kInstall, false, "", "", "C:\\Temp\\pkg.exe",
       ""},
      {"-argv0 \"C:\\My Downloads\\k 8.exe\"  ", CommandRequest::kInstall, false, "", "",
       "C:\\My Downloads\\k 8.exe", ""},
      // After -argv0 everything is the path, switches too.
      {"-argv0 C:\\a.exe /S", CommandRequest::kInstall, false, "", "", "C:\\a.exe /S", ""},
      {"/s /d=C:\\K /Log=C:\\k.log -argv0 D:\\p.exe", CommandRequest::kInstall, true, "C:\\K",
       "C:\\k.log", "D:\\p.exe", ""},
      // Blanks in a value: the whole switch or the value in double quotes.
      {"\"/D=C:\\Program Files\\Kestra\" /S", CommandRequest::kInstall, true,
       "C:\\Program Files\\Kestra", "", "", ""},
      {"/D=\"C:\\Program Files\\Kestra\"\t/LOG=\"C:\\my logs\\k.log\"", CommandRequest::kInstall,
       false, "C:\\Program Files\\Kestra", "C:\\my logs\\k.log", "", ""},
      {"/D=C:\\Program Files\\Kestra", CommandRequest::kNotUnderstood, false, "C:\\Program", "", "",
       "Files\\Kestra"},
      {"/?", CommandRequest::kHelp, false, "", "", "", ""},
      {"/S /? /x /y", CommandRequest::kNotUnderstood, true, "", "", "", "/x"},
      // Only -argv0 itself is the launcher's switch; nothing else is taken for a path.
      {" /argv0 C:\\x.exe", CommandRequest::kNotUnderstood, false, "", "", "", "/argv0"},
      // A line that does not begin with a switch or -argv0 is not read, as it never was.
      {"C:\\x.exe -argv0 C:\\y.exe", CommandRequest::kInstall, false, "", "", "", ""},
      {"\"C:\\x.exe\" /S", CommandRequest::kInstall, false, "", "", "", ""},
      {"/S C:\\x.exe", CommandRequest::kNotUnderstood, true, "", "", "", "C:\\x.exe"},
      {"/S \"\"", CommandRequest::kNotUnderstood, true, "", "", "", ""},
      {"/D= /LOG=", CommandRequest::kNotUnderstood, false, "", "", "", "/D="},
      {"/SILENT", CommandRequest::kNotUnderstood, false, "", "", "", "/SILENT"},
      // A folder too long for the dialog is cut (the folder checks refuse it); a log name too
      // long for a path is not cut into another name: no log.
      {"/D=C:\\" + longName, CommandRequest::kInstall, false, ("C:\\" + longName).substr(0, 275),
       "", "", ""},
      {"/LOG=C:\\" + longName.substr(0, 256), CommandRequest::kInstall, false, "",
       "C:\\" + longName.substr(0, 256), "", ""},
      {"/LOG=C:\\" + longName.substr(0, 257), CommandRequest::kInstall, false, "", "", "", ""},
  };
  for (const Case& c : cases) {
    CommandLine line;
    EXPECT_EQ(ReadCommandLine(c.tail.c_str(), &line), c.request) << c.tail;
    EXPECT_EQ(line.quiet, c.quiet) << c.tail;
    EXPECT_EQ(line.folder, c.folder) << c.tail;
    EXPECT_EQ(line.logFile, c.logFile) << c.tail;
    EXPECT_EQ(line.argv0Path, c.argv0Path) << c.tail;
    EXPECT_EQ(line.notUnderstood, c.notUnderstood) << c.tail;
  }
}

}  // namespace
