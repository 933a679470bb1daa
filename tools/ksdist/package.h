// `ksdist package`: the one file that customers download. It proves the distribution folder as
// `ksdist verify` does, then writes the package stub followed by the distribution as one ZIP
// archive of stored entries; the same folder and stub always give the same bytes.
#pragma once

extern const char kPackageHelp[];

// Runs the command on the arguments after "package"; returns the exit status.
int RunPackage(int argc, char** argv);
