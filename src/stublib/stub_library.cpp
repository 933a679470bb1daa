#include "stublib/stub_library.h"

#include <windows.h>

#include "shellext/shell_extension_keys.h"

// The library runs inside the shell without a C runtime: no static constructors, no library
// calls beyond KERNEL32 and ADVAPI32. DllMain is the image's entry point.

extern "C" {
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved);
HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID interfaceId, void** object);
HRESULT WINAPI DllCanUnloadNow();
}

namespace {

using GetClassObjectProc = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadNowProc = HRESULT(WINAPI*)();

constexpr int kPathBytes = 261;
constexpr char kWorkerName[] = KS_WORKER_FILE_NAME;
// A watcher told to stop has only to leave Sleep or a wait for the lock; this bounds the wait
// for it when the library is unloaded.
constexpr DWORD kWatcherStopMs = 2000;

// The process-wide state; every field is read and written under `lock`.
struct StubState {
  HMODULE workerModule;
  GetClassObjectProc workerGetClassObject;
  CanUnloadNowProc workerCanUnloadNow;
  HANDLE watcherThread;
  CRITICAL_SECTION lock;
};

StubState stub;

template <typename Proc>
Proc ProcAs(FARPROC proc) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(proc));
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// A drive and a separator ("C:\"), or a network path ("\\server"). Any other path would be
// resolved against whatever folder the shell happens to have as its current one.
bool IsAbsolutePath(const char* path) {
  return (path[0] && path[1] == ':' && IsSeparator(path[2])) ||
         (IsSeparator(path[0]) && IsSeparator(path[1]));
}

// "CLSID\<id>\InProcServer32", put together as the library is built.
struct ServerKey {
  char text[64];
  constexpr void Append(const char* piece, int& length) {
    while (*piece) text[length++] = *piece++;
  }
};

constexpr ServerKey MakeServerKey() {
  ServerKey key = {};
  int length = 0;
  key.Append("CLSID\\", length);
  key.Append(kStubLibraryClassId, length);
  key.Append("\\InProcServer32", length);
  return key;
}

constexpr ServerKey kServerKey = MakeServerKey();

// The worker's path: the folder of the stub's registered path plus the worker's name. A path
// that is not absolute fails rather than let the loader search the current directory, and so
// does one that leaves no room for the name.
bool FindWorkerPath(char* path) {
  LONG size = kPathBytes;
  if (RegQueryValueA(HKEY_CLASSES_ROOT, kServerKey.text, path, &size) != ERROR_SUCCESS)
    return false;
  path[kPathBytes - 1] = '\0';
  if (!IsAbsolutePath(path)) return false;
  int folderLength = 0;
  for (int i = 0; path[i]; ++i)
    if (IsSeparator(path[i])) folderLength = i + 1;
  if (folderLength + static_cast<int>(sizeof kWorkerName) > kPathBytes) return false;
  lstrcpyA(path + folderLength, kWorkerName);
  return true;
}

// Forgets the worker (under the lock) and returns its module for the caller to free.
HMODULE DetachWorker() {
  HMODULE module = stub.workerModule;
  stub.workerGetClassObject = nullptr;
  stub.workerCanUnloadNow = nullptr;
  stub.workerModule = nullptr;
  return module;
}

void UnloadWorker() {
  if (HMODULE module = DetachWorker()) FreeLibrary(module);
}

// Asks the worker every period whether it may go and lets it go when it says so. The module is
// freed after the lock is left: freeing takes the loader's lock, which a thread unloading this
// library already holds while it waits for ours.
DWORD WINAPI WatchWorker(void*) {
  for (;;) {
    Sleep(KS_WATCH_PERIOD_MS);
    EnterCriticalSection(&stub.lock);
    bool idle = !stub.workerCanUnloadNow || stub.workerCanUnloadNow() == S_OK;
    HMODULE idleWorker = idle ? DetachWorker() : nullptr;
    LeaveCriticalSection(&stub.lock);
    if (!idle) continue;
    if (idleWorker) FreeLibrary(idleWorker);
    return 0;
  }
}

bool StartWatcher() {
  if (stub.watcherThread) CloseHandle(stub.watcherThread);
  DWORD threadId;
  stub.watcherThread = CreateThread(nullptr, 0, WatchWorker, nullptr, 0, &threadId);
  return stub.watcherThread != nullptr;
}

// Called under the lock.
bool EnsureWorkerLoaded() {
  if (stub.workerModule) return true;
  char path[kPathBytes];
  if (FindWorkerPath(path) && (stub.workerModule = LoadLibraryA(path)) != nullptr) {
    stub.workerGetClassObject =
        ProcAs<GetClassObjectProc>(GetProcAddress(stub.workerModule, "DllGetClassObject"));
    stub.workerCanUnloadNow =
        ProcAs<CanUnloadNowProc>(GetProcAddress(stub.workerModule, "DllCanUnloadNow"));
    if (stub.workerGetClassObject && stub.workerCanUnloadNow && StartWatcher()) return true;
  }
  UnloadWorker();
  return false;
}

// The library is being unloaded while the process goes on. The lock is taken first, so the
// watcher is stopped outside its locked step and cannot leave the lock orphaned. A worker that
// is still busy stays loaded: objects it handed out may still be in use.
void ShutDown() {
  EnterCriticalSection(&stub.lock);
  if (stub.watcherThread) {
    DWORD exitCode = 0;
    if (GetExitCodeThread(stub.watcherThread, &exitCode) && exitCode == STILL_ACTIVE) {
      TerminateThread(stub.watcherThread, 0);
      WaitForSingleObject(stub.watcherThread, kWatcherStopMs);
    }
    CloseHandle(stub.watcherThread);
    stub.watcherThread = nullptr;
  }
  if (stub.workerCanUnloadNow && stub.workerCanUnloadNow() == S_OK) UnloadWorker();
  LeaveCriticalSection(&stub.lock);
  DeleteCriticalSection(&stub.lock);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&stub.lock);
  // When the whole process ends (`reserved` set), the other threads are already gone and the
  // worker may have been detached before this library: there is nothing left to stop or ask.
  if (reason == DLL_PROCESS_DETACH && !reserved) ShutDown();
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID interfaceId, void** object) {
  EnterCriticalSection(&stub.lock);
  // The lock stays held across the call, so the watcher cannot unload the worker meanwhile.
  HRESULT result = EnsureWorkerLoaded() ? stub.workerGetClassObject(classId, interfaceId, object)
                                        : CLASS_E_CLASSNOTAVAILABLE;
  LeaveCriticalSection(&stub.lock);
  return result;
}

HRESULT WINAPI DllCanUnloadNow() {
  EnterCriticalSection(&stub.lock);
  HRESULT result = stub.workerModule ? S_FALSE : S_OK;
  LeaveCriticalSection(&stub.lock);
  return result;
}
