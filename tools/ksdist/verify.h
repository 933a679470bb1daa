// `ksdist verify`: proves a distribution folder before it ships. It makes every check that
// SETUP.EXE makes before it writes anything (side files and their times, setup.ks, the stub
// library it carries), tests setup.ks with SETUP.EXE's own extraction engine, and more.
#pragma once
#include <string>

extern const char kVerifyHelp[];

// Checks the distribution folder `dist` and prints the report; returns the exit status.
int VerifyDistribution(const std::string& dist);

// Runs the command on the arguments after "verify"; returns the exit status.
int RunVerify(int argc, char** argv);
