// The shell-extension registry cleanup on Wine's real registry: every listed key goes with all
// it holds, neighbours and parents stay, a key that cannot be deleted keeps its branch, and a
// machine without the keys is left exactly as it was.
#include "shellext/registry_cleanup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shellext/shell_extension_keys.h"
#include "support/registry_keys.h"

// Vista's tree deletion, which the product's headers (set for Windows 95) do not declare; the
// test uses it to clean up what the cleanup under test may have left.
extern "C" LONG WINAPI RegDeleteTreeA(HKEY key, const char* subKey);

namespace {

// Every key below `path` with its values, one line each, in enumeration order.
void DumpTree(HKEY root, const std::string& path, std::string& out) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    out += path + " <unreadable>\n";
    return;
  }
  out += path + "\n";
  for (DWORD index = 0;; ++index) {
    char name[300];
    BYTE data[4096];
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) !=
        ERROR_SUCCESS)
      break;
    out += "  " + std::string(name) + "=" + std::to_string(type) + ":" +
           std::string(reinterpret_cast<char*>(data), dataSize) + "\n";
  }
  std::vector<std::string> children;
  for (DWORD index = 0;; ++index) {
    char name[300];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    children.push_back(name);
  }
  RegCloseKey(key);
  for (const std::string& child : children)
    DumpTree(root, path.empty() ? child : path + "\\" + child, out);
}

std::string DumpClassesRoot() {
  std::string out;
  DumpTree(HKEY_CLASSES_ROOT, "", out);
  return out;
}

// Things beside the product's keys that must outlive the cleanup.
const char* const kNeighbours[] = {
    "CLSID\\{6b1f4a38-2c7d-11cf-8a52-00aa00c13f10}",
    "CLSID\\{6b1f4a3f-2c7d-11cf-8a52-00aa00c13f10}",
    "Directory\\shellex\\DragDropHandlers\\Other Archiver",
    "*\\shellex\\ContextMenuHandlers\\Other Archiver",
    "Folder\\shellex\\ContextMenuHandlers\\KestraPlus",
    "Kestra\\shellex\\PropertySheetHandlers\\Kestra",
    ".ZIP\\ShellEx\\{00021500-0000-0000-c000-000000000047}",
};

constexpr const char kScratchKey[] = "ks-registry-test";

// Every test starts from a registry without the product's keys, even after a run that was
// killed half-way and left some behind (possibly still protected).
class RegistryCleanup : public testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> leftovers = {kScratchKey, ClassKey(kStubLibraryClassId) + "\\Sub 2",
                                          std::string(kScratchKey) + "\\a\\b\\c"};
    for (const char* classId : kShellExtensionClassIds) leftovers.push_back(ClassKey(classId));
    for (const char* handler : kShellExtensionHandlerKeys) leftovers.push_back(handler);
    for (const std::string& key : leftovers) DenyDeletion(key, false);
    for (const std::string& key : leftovers) RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
  }
};

TEST_F(RegistryCleanup, ChangesNothingWhenNoKeyIsThere) {
  std::string before = DumpClassesRoot();
  ASSERT_EQ(before.find(kShellExtensionClassIds[0]), std::string::npos);
  EXPECT_TRUE(RemoveShellExtensionKeys());
  EXPECT_EQ(DumpClassesRoot(), before);
}

TEST_F(RegistryCleanup, RemovesEveryListedKeyWithAllItHolds) {
  CreatedKeys keys;
  RegisterShellExtension(keys);
  for (const char* neighbour : kNeighbours) keys.Add(neighbour, "someone else's");

  EXPECT_TRUE(RemoveShellExtensionKeys());

  for (const char* classId : kShellExtensionClassIds) EXPECT_FALSE(KeyExists(ClassKey(classId)));
  for (const char* handler : kShellExtensionHandlerKeys)
    EXPECT_FALSE(KeyExists(handler)) << handler;
  for (const char* neighbour : kNeighbours) {
    EXPECT_EQ(ValueText(neighbour, nullptr), "someone else's") << neighbour;
  }
  for (const char* parent : {"CLSID", "Kestra\\shellex", "Directory\\shellex\\DragDropHandlers",
                             "Drive\\shellex\\DragDropHandlers", "Folder\\shellex",
                             "*\\shellex\\ContextMenuHandlers", ".ZIP\\ShellEx"}) {
    EXPECT_TRUE(KeyExists(parent)) << parent;
  }
}

TEST_F(RegistryCleanup, RunningTwiceIsHarmless) {
  CreatedKeys keys;
  RegisterShellExtension(keys);
  keys.Add(kNeighbours[2], "someone else's");
  EXPECT_TRUE(RemoveShellExtensionKeys());
  std::string afterFirst = DumpClassesRoot();
  EXPECT_TRUE(RemoveShellExtensionKeys());
  EXPECT_EQ(DumpClassesRoot(), afterFirst);
  EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, ClassKey(kStubLibraryClassId).c_str()),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryCleanup, AKeyThatCannotBeDeletedKeepsItsBranch) {
  CreatedKeys keys;
  RegisterShellExtension(keys);
  std::string held = ClassKey(kShellExtensionClassIds[0]);
  keys.Add(held + "\\Sub 1", "first");
  keys.Add(held + "\\Sub 2", "second");
  keys.SetValue(held + "\\Sub 2", "Named", "value of the second");
  keys.Add(held + "\\Sub 3\\Deeper", "third");
  ASSERT_TRUE(DenyDeletion(held + "\\Sub 2", true));
  // The sub-keys go in the registry's order; the test relies on "InProcServer32" and
  // "Implemented Categories" coming before "Sub 1".
  EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, (held + "\\Sub 2").c_str()), ERROR_ACCESS_DENIED)
      << "Wine refuses the deletion";

  EXPECT_TRUE(RemoveShellExtensionKeys());

  EXPECT_FALSE(KeyExists(held + "\\Sub 1"));
  EXPECT_FALSE(KeyExists(held + "\\InProcServer32"));
  EXPECT_EQ(ValueText(held + "\\Sub 2", "Named"), "value of the second");
  EXPECT_EQ(ValueText(held + "\\Sub 3\\Deeper", nullptr), "third");
  EXPECT_EQ(ValueText(held, nullptr), "Kestra shell extension");
  // The next listed keys are still processed.
  for (int i = 1; i < kShellExtensionClassCount; ++i)
    EXPECT_FALSE(KeyExists(ClassKey(kShellExtensionClassIds[i]))) << i;
  for (const char* handler : kShellExtensionHandlerKeys)
    EXPECT_FALSE(KeyExists(handler)) << handler;
}

TEST_F(RegistryCleanup, ReportsTheFailureOfABranchToTheCaller) {
  const std::string denied = std::string(kScratchKey) + "\\a\\b\\c";
  const std::string later = std::string(kScratchKey) + "\\a\\z";
  CreatedKeys keys;
  keys.Add(denied, "deep");
  keys.Add(later, "after");
  ASSERT_TRUE(DenyDeletion(denied, true));
  EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, kScratchKey), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(KeyExists(denied));
  EXPECT_TRUE(KeyExists(later));

  ASSERT_TRUE(DenyDeletion(denied, false));
  EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, kScratchKey), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(kScratchKey));
}

// A chain of nested keys below `top`, each created below its parent's handle, since the whole
// path is longer than the registry's ANSI calls accept. Removed with the test.
class DeepChain {
 public:
  DeepChain(const std::string& top, int depth, const std::string& level) : top_(top) {
    HKEY key;
    RegCreateKeyExA(HKEY_CLASSES_ROOT, top.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    length_ = top.size();
    for (int i = 0; i < depth; ++i) {
      std::string name = level + std::to_string(i);
      HKEY child;
      if (RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child,
                          nullptr) != ERROR_SUCCESS)
        break;
      RegSetValueExA(child, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("nested"), 7);
      RegCloseKey(key);
      key = child;
      names_.push_back(name);
      length_ += 1 + name.size();
    }
    RegCloseKey(key);
  }
  ~DeepChain() { RegDeleteTreeA(HKEY_CLASSES_ROOT, top_.c_str()); }

  size_t pathLength() const { return length_; }
  // How many levels below the top can still be opened, one name at a time.
  int LevelsPresent() const {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, top_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return -1;
    int levels = 0;
    for (const std::string& name : names_) {
      HKEY child;
      if (RegOpenKeyExA(key, name.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) break;
      RegCloseKey(key);
      key = child;
      ++levels;
    }
    RegCloseKey(key);
    return levels;
  }

 private:
  std::string top_;
  std::vector<std::string> names_;
  size_t length_ = 0;
};

TEST_F(RegistryCleanup, RemovesTreesDeeperThanAnyPathBuffer) {
  DeepChain chain(ClassKey(kStubLibraryClassId), 30, std::string(40, 'n'));
  ASSERT_EQ(chain.LevelsPresent(), 30);
  ASSERT_GT(chain.pathLength(), 1200u);
  EXPECT_TRUE(RemoveShellExtensionKeys());
  EXPECT_EQ(chain.LevelsPresent(), -1) << "the whole tree is gone";
}

TEST(ShellExtensionKeys, ClassIdsAreWrittenAsTheRegistryAndTheStubLibraryExpectThem) {
  // Lower case with braces, 4 to 7 and then 0 to 3 in the last digit of the first group.
  const char order[] = "45670123";
  for (int i = 0; i < kShellExtensionClassCount; ++i) {
    std::string expected = std::string("{6b1f4a3") + order[i] + "-2c7d-11cf-8a52-00aa00c13f10}";
    EXPECT_EQ(kShellExtensionClassIds[i], expected) << i;
  }
  EXPECT_STREQ(kStubLibraryClassId, "{6b1f4a34-2c7d-11cf-8a52-00aa00c13f10}");
}

}  // namespace
