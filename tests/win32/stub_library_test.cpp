// KSSHLSTB.DLL loaded into a test process as the shell loads it: the worker found beside the
// registered path, class-object requests forwarded, the idle worker released by the watcher and
// loaded again on demand, and the library unloaded with a worker still loaded.
#include <gtest/gtest.h>

#include <string>

#include "fixtures/worker_fixture.h"
#include "shellext/shell_extension_keys.h"
#include "stublib/stub_library.h"
#include "support/registry_keys.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"

namespace {

using GetClassObjectProc = HRESULT(WINAPI*)(const GUID&, const GUID&, void**);
using CanUnloadNowProc = HRESULT(WINAPI*)();

constexpr HRESULT kClassNotAvailable = static_cast<HRESULT>(0x80040111);
constexpr DWORD kPeriod = KS_WATCH_PERIOD_MS;
const std::string kClassKey = ClassKey(kStubLibraryClassId);
const std::string kServerKey = kClassKey + "\\InProcServer32";
const GUID kSomeClass = {
    0x6b1f4a35, 0x2c7d, 0x11cf, {0x8a, 0x52, 0x00, 0xaa, 0x00, 0xc1, 0x3f, 0x10}};
const GUID kSomeInterface = {0x000214e8, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

template <typename Proc>
Proc ProcAs(FARPROC proc) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(proc));
}

HMODULE WorkerModule() {
  return GetModuleHandleA("ksshlex1.dll");
}

// The loaded worker's record; only touched while the worker is busy, so the watcher leaves it.
WorkerRecord* Worker() {
  HMODULE module = WorkerModule();
  if (!module) return nullptr;
  return ProcAs<WorkerTestRecordProc>(GetProcAddress(module, "WorkerTestRecord"))();
}

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(module, path, MAX_PATH);
  return path;
}

DWORD WINAPI FreeLibraryThread(void* module) {
  FreeLibrary(static_cast<HMODULE>(module));
  return 0;
}

// FreeLibrary on another thread, so that a hang shows as a failure instead of a stuck test.
bool FreeLibraryWithin(HMODULE module, DWORD milliseconds) {
  HANDLE thread = CreateThread(nullptr, 0, FreeLibraryThread, module, 0, nullptr);
  bool ended = WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
}

class StubLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    CopyFileOrFail(WinTreePath() + "\\src\\stublib\\KSSHLSTB.DLL", folder_ / "KSSHLSTB.DLL");
    Register(folder_ / "KSSHLSTB.DLL");
  }
  void TearDown() override {
    UnloadStub();
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kServerKey.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey.c_str());
  }

  void Register(const std::string& path) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, kServerKey.c_str(), REG_SZ, path.c_str(),
                           static_cast<DWORD>(path.size())),
              ERROR_SUCCESS);
  }
  void AddWorker(const TestFolder& folder) {
    CopyFileOrFail(FixturePath("ksshlex1.dll"), folder / KS_WORKER_FILE_NAME);
  }
  void LoadStub() {
    stub_ = LoadLibraryA((folder_ / "KSSHLSTB.DLL").c_str());
    ASSERT_NE(stub_, nullptr);
    getClassObject_ = ProcAs<GetClassObjectProc>(GetProcAddress(stub_, "DllGetClassObject"));
    canUnloadNow_ = ProcAs<CanUnloadNowProc>(GetProcAddress(stub_, "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject_ && canUnloadNow_);
  }
  // Unloads the stub, letting an idle worker go with it, and whatever worker is left.
  void UnloadStub() {
    if (WorkerRecord* worker = Worker()) worker->unloadAnswer = S_OK;
    if (stub_) {
      EXPECT_TRUE(FreeLibraryWithin(stub_, 10000)) << "unloading the stub hangs";
    }
    stub_ = nullptr;
    for (int i = 0; i < 10 && WorkerModule(); ++i) FreeLibrary(WorkerModule());
  }
  HRESULT RequestClassObject() {
    void* object = nullptr;
    return getClassObject_(kSomeClass, kSomeInterface, &object);
  }

  TestFolder folder_{"C:\\ks-stublib"};
  HMODULE stub_ = nullptr;
  GetClassObjectProc getClassObject_ = nullptr;
  CanUnloadNowProc canUnloadNow_ = nullptr;
};

TEST_F(StubLibraryTest, WithoutAUsableWorkerNoClassIsAvailable) {
  struct Case {
    const char* what;
    std::string registeredPath;  // "" leaves the registration out
    std::string workerContent;   // "" leaves the worker out
    std::string current = "";    // the current folder; "" for the stub's own
  } cases[] = {
      {"not registered", "", "fixture"},
      {"no worker beside the stub", folder_ / "KSSHLSTB.DLL", ""},
      {"worker not a library", folder_ / "KSSHLSTB.DLL", "not a library"},
      {"worker without the exports", folder_ / "KSSHLSTB.DLL", "KESTRA32.EXE"},
      {"registered path without a folder", "KSSHLSTB.DLL", "fixture"},
      {"folder too long for the worker's name", "C:\\" + std::string(250, 'k') + "\\x", "fixture"},
      // A relative path names the worker from wherever the shell happens to be.
      {"relative path", "ks-stublib\\KSSHLSTB.DLL", "fixture", "C:\\"},
      {"relative to the drive's current folder", "C:ks-stublib\\KSSHLSTB.DLL", "fixture", "C:\\"},
      {"from the current drive's root", "\\ks-stublib\\KSSHLSTB.DLL", "fixture"},
  };
  std::string worker = folder_ / KS_WORKER_FILE_NAME;
  for (const Case& c : cases) {
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kServerKey.c_str());
    if (!c.registeredPath.empty()) Register(c.registeredPath);
    DeleteFileA(worker.c_str());
    if (c.workerContent == "fixture") AddWorker(folder_);
    if (c.workerContent == "KESTRA32.EXE") CopyFileOrFail(FixturePath("KESTRA32.EXE"), worker);
    if (c.workerContent == "not a library") WriteFileBytes(worker, c.workerContent);
    // The stub's own folder is the current one: a bare name must not be found there.
    SetCurrentDirectoryA(c.current.empty() ? folder_.path().c_str() : c.current.c_str());

    LoadStub();
    EXPECT_EQ(RequestClassObject(), kClassNotAvailable) << c.what;
    EXPECT_EQ(canUnloadNow_(), S_OK) << c.what;
    EXPECT_EQ(WorkerModule(), nullptr) << c.what;
    UnloadStub();
  }
  SetCurrentDirectoryA("C:\\");
}

TEST_F(StubLibraryTest, ForwardsRequestsToTheWorkerWithTheirArgumentsUnchanged) {
  AddWorker(folder_);
  LoadStub();
  GUID classId = kSomeClass, interfaceId = kSomeInterface;
  void* object = nullptr;
  EXPECT_EQ(getClassObject_(classId, interfaceId, &object), kWorkerClassObjectResult);
  void* other = nullptr;
  EXPECT_EQ(getClassObject_(interfaceId, classId, &other), kWorkerClassObjectResult);

  WorkerRecord* worker = Worker();
  ASSERT_NE(worker, nullptr);
  ASSERT_EQ(worker->callCount, 2) << "the worker stays loaded between requests";
  EXPECT_EQ(worker->calls[0].classId, &classId);
  EXPECT_EQ(worker->calls[0].interfaceId, &interfaceId);
  EXPECT_EQ(worker->calls[0].object, &object);
  EXPECT_EQ(worker->calls[1].classId, &interfaceId);
  EXPECT_EQ(worker->calls[1].interfaceId, &classId);
  EXPECT_EQ(worker->calls[1].object, &other);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  EXPECT_EQ(ModulePath(WorkerModule()), folder_ / KS_WORKER_FILE_NAME);
}

TEST_F(StubLibraryTest, TakesTheWorkerFromTheRegisteredFolderNotTheCurrentOne) {
  TestFolder current("C:\\ks-stublib-current");
  AddWorker(current);
  SetCurrentDirectoryA(current.path().c_str());
  struct Case {
    const char* what;
    std::string registeredPath;
    bool workerInRegisteredFolder;
  } cases[] = {
      {"backslashes", folder_ / "KSSHLSTB.DLL", true},
      {"forward slashes", "C:/ks-stublib/KSSHLSTB.DLL", true},
      {"no worker in the registered folder", folder_ / "KSSHLSTB.DLL", false},
  };
  for (const Case& c : cases) {
    Register(c.registeredPath);
    DeleteFileA((folder_ / KS_WORKER_FILE_NAME).c_str());
    if (c.workerInRegisteredFolder) AddWorker(folder_);
    LoadStub();
    HRESULT result = RequestClassObject();
    if (c.workerInRegisteredFolder) {
      EXPECT_EQ(result, kWorkerClassObjectResult) << c.what;
      EXPECT_EQ(ModulePath(WorkerModule()), folder_ / KS_WORKER_FILE_NAME) << c.what;
    } else {
      EXPECT_EQ(result, kClassNotAvailable) << c.what;
      EXPECT_EQ(WorkerModule(), nullptr) << c.what << ": the current folder's worker is not used";
    }
    UnloadStub();
  }
  SetCurrentDirectoryA("C:\\");
}

TEST_F(StubLibraryTest, TheWatcherReleasesAnIdleWorkerWithinOnePeriodAndItIsLoadedAgain) {
  AddWorker(folder_);
  LoadStub();
  ASSERT_EQ(RequestClassObject(), kWorkerClassObjectResult);
  // A busy worker outlives the watcher's first look.
  Sleep(kPeriod + 700);
  ASSERT_NE(Worker(), nullptr) << "a busy worker stays loaded";
  EXPECT_EQ(canUnloadNow_(), S_FALSE);

  Worker()->unloadAnswer = S_OK;
  DWORD idleSince = GetTickCount();
  EXPECT_TRUE(WaitUntil([] { return WorkerModule() == nullptr; }, kPeriod + 1000));
  EXPECT_LE(GetTickCount() - idleSince, kPeriod + 1000);
  EXPECT_EQ(canUnloadNow_(), S_OK);

  // The next request loads a fresh worker, and a new watcher looks after it.
  ASSERT_EQ(RequestClassObject(), kWorkerClassObjectResult);
  DWORD reloaded = GetTickCount();
  ASSERT_NE(Worker(), nullptr);
  EXPECT_EQ(Worker()->callCount, 1);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  Worker()->unloadAnswer = S_OK;
  EXPECT_TRUE(WaitUntil([] { return WorkerModule() == nullptr; }, kPeriod + 1000));
  EXPECT_GE(GetTickCount() - reloaded, kPeriod - 500) << "released only when the watcher looks";
}

TEST_F(StubLibraryTest, UnloadingTheStubWithAWorkerLoadedNeitherHangsNorCrashes) {
  for (bool busy : {false, true}) {
    AddWorker(folder_);
    LoadStub();
    ASSERT_EQ(RequestClassObject(), kWorkerClassObjectResult);
    if (!busy) Worker()->unloadAnswer = S_OK;
    EXPECT_TRUE(FreeLibraryWithin(stub_, 10000)) << "busy " << busy;
    stub_ = nullptr;
    EXPECT_EQ(GetModuleHandleA("KSSHLSTB.DLL"), nullptr);
    // An idle worker goes with the stub; a busy one may still have objects in use.
    EXPECT_EQ(WorkerModule() != nullptr, busy);
  }
  // The watcher went with the stub: past its period nothing runs the unloaded code.
  Sleep(kPeriod + 500);
  EXPECT_NE(WorkerModule(), nullptr);
}

}  // namespace
