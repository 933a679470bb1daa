// KSSHLSTB.DLL, the shell's in-process server for the product: it loads the worker library from
// the folder it is registered in, forwards class-object requests to it and lets it go once the
// worker is idle, so that setup can replace the worker while the shell runs.
#pragma once

// The class id under which the stub is registered; the first of the product's shell classes.
#define KS_STUB_CLASS_ID "{6b1f4a34-2c7d-11cf-8a52-00aa00c13f10}"

// Where the stub finds its own path: the default value of this key under HKEY_CLASSES_ROOT.
#define KS_STUB_SERVER_KEY "CLSID\\" KS_STUB_CLASS_ID "\\InProcServer32"

// The worker library's file name, loaded from the stub's registered folder.
#define KS_WORKER_FILE_NAME "KSSHLEX1.dll"

// How often the watcher asks an idle worker whether it may go, in milliseconds.
#define KS_WATCH_PERIOD_MS 7000
