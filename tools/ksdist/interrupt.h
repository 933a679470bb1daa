// Ctrl-C for the commands that work on files: the first SIGINT only raises a flag, which the
// command looks at between blocks and stops at, cleaning up after itself.
#pragma once

void CatchInterrupt();
bool Interrupted();
