// The text rules of an install folder: the form a typed folder must have, how it is normalised,
// and which folder a ".zip" association names; and which full paths name a device. Pure text, free
// of Windows, so that the rules are tested on their own.
#pragma once

// Every path buffer of the program holds this many characters with the terminator.
constexpr int kFolderPathChars = 260;

// The longest file name setup builds in the install folder (8.3: KSSHLSTB.DLL, WHATSNEW.TXT).
constexpr int kLongestFileName = 12;

// True when `text` starts with two backslashes or two forward slashes and a server name, or
// with a drive and its root ("D:" or "D:\..."), has no folder name that ends in a blank or a
// dot, and the install folder made from it (normalised, with a separator) still leaves room for
// a file name of kLongestFileName characters in a path buffer.
bool IsAcceptableFolderText(const char* text);

// A drive alone ("D:") gets a backslash; any other text loses one final backslash ("D:\Apps\"
// becomes "D:\Apps", "D:\" becomes "D:"). A final forward slash stays. `text` has room for one
// more character.
void NormalizeFolderText(char* text);

// From the WIN.INI association "program ^.zip": when the program's file name begins with
// "kestra" (any case), copies its folder, without the final separator, into `folder` and returns
// true. False for any other program, for a program without a folder, and for a folder that
// does not fit `capacity` characters with the terminator.
bool AssociatedProductFolder(const char* association, char* folder, int capacity);

// True when the full path `path` names a device rather than a file: a name such as
// \\.\PIPE\x or \\?\..., or a last part that is no plain file name (COM1, LPT1, PRN, NUL.TXT,
// a colon, dots and blanks only).
bool IsDevicePath(const char* path);
