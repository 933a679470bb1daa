// KSSHLSTB.DLL, the shell's in-process server for the product: it loads the worker library from
// the folder it is registered in, forwards class-object requests to it and lets it go once the
// worker is idle, so that setup can replace the worker while the shell runs.
#pragma once

// The stub finds its own path as the default value of "CLSID\<id>\InProcServer32" under
// HKEY_CLASSES_ROOT, with the id kStubLibraryClassId (shellext/shell_extension_keys.h). Only an
// absolute path (a drive and a separator, or a network path) is used.

// The worker library's file name, loaded from the stub's registered folder.
#define KS_WORKER_FILE_NAME "KSSHLEX1.dll"

// How often the watcher asks an idle worker whether it may go, in milliseconds.
#define KS_WATCH_PERIOD_MS 7000
