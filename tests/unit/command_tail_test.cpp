// Where SETUP.EXE's own start-up code finds the arguments after the program's name.
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

}  // namespace
