// ksdist: the Kestra distribution tool. Dispatches to its commands.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pack.h"
#include "package.h"
#include "unpack.h"
#include "verify.h"

namespace {

const char kHelp[] =
    "usage: ksdist COMMAND [ARGUMENTS]\n"
    "\n"
    "The Kestra distribution tool.\n"
    "\n"
    "Commands:\n"
    "  pack     build a distribution folder from a product folder\n"
    "  verify   check a distribution folder as SETUP.EXE will, and then some\n"
    "  unpack   extract or test a ZIP archive with SETUP.EXE's own extraction engine\n"
    "  package  write the one file that customers download: the package stub and DIST\n"
    "\n"
    "Run 'ksdist COMMAND --help' for the arguments of a command.\n"
    "\n"
    "Exit status: 0 done, 2 an error ended the command (or verify found a problem),\n"
    "99 cancelled (Ctrl-C), 64 usage error.\n";

}  // namespace

int main(int argc, char** argv) {
  // Without TZ the C library looks at /etc/localtime again for every time it converts, once per
  // extracted file; naming that zone file, which it would read anyway, lets it read it once.
  setenv("TZ", ":/etc/localtime", 0);
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return kExitUsage;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    std::fputs(kHelp, stdout);
    return kExitDone;
  }
  if (!std::strcmp(argv[1], "pack")) return RunPack(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "verify")) return RunVerify(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "unpack")) return RunUnpack(argc - 2, argv + 2);
  if (!std::strcmp(argv[1], "package")) return RunPackage(argc - 2, argv + 2);
  std::fprintf(stderr, "ksdist: unknown command '%s'\n\n%s", argv[1], kHelp);
  return kExitUsage;
}
