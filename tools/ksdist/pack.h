// `ksdist pack`: builds a distribution folder from a product folder: SETUP.EXE, the seven side
// files carrying SETUP.EXE's exact last-write time, and setup.ks holding the product, deflated
// and encrypted as SETUP.EXE reads it. The folder appears whole or not at all.
#pragma once

extern const char kPackHelp[];

// Runs the command on the arguments after "pack"; returns the exit status.
int RunPack(int argc, char** argv);
