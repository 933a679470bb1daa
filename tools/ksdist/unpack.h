// `ksdist unpack`: the extraction engine on the command line, one option per field of the
// extraction request, with a progress bar on a terminal and the engine's messages on stderr.
#pragma once

// Exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitError = 2;
constexpr int kExitCancelled = 99;
constexpr int kExitUsage = 64;

extern const char kUnpackHelp[];

// Runs the command on the arguments after "unpack"; returns the exit status.
int RunUnpack(int argc, char** argv);
