// Where the arguments begin in a Windows command line: the part after the program's name that
// WinMain receives. Pure text, free of Windows, so that it is tested on its own.
#pragma once

// Skips the program's name (a run of characters above the blank, in which double quotes make
// blanks part of the name) and the blanks and control characters after it. Characters above
// 127 belong to the name, whatever the code page.
const char* CommandTail(const char* commandLine);
