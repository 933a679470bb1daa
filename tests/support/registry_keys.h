// Keys that tests create under HKEY_CLASSES_ROOT in the Wine prefix's registry, removed again
// when the test ends, and small readers of what is there.
#pragma once
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shellext/shell_extension_keys.h"

inline std::string ClassKey(const char* classId) {
  return std::string("CLSID\\") + classId;
}

inline bool KeyExists(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

inline std::string ValueText(const std::string& path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "<no key>";
  char data[300] = "";
  DWORD size = sizeof data;
  LONG status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? data : "<no value>";
}

// With `deny`, nobody may delete the key below HKEY_CLASSES_ROOT, while everything else stays
// allowed (so that the test can put things back afterwards); without, everything is allowed.
inline bool DenyDeletion(const std::string& path, bool deny) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, READ_CONTROL | WRITE_DAC, &key) !=
      ERROR_SUCCESS)
    return false;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  EXPLICIT_ACCESSA entries[2] = {};
  entries[0].grfAccessPermissions = DELETE;
  entries[0].grfAccessMode = DENY_ACCESS;
  entries[1].grfAccessPermissions = KEY_ALL_ACCESS;
  entries[1].grfAccessMode = SET_ACCESS;
  for (EXPLICIT_ACCESSA& entry : entries) {
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPSTR>(everyone);
  }
  PACL acl = nullptr;
  bool done =
      SetEntriesInAclA(deny ? 2 : 1, deny ? entries : entries + 1, nullptr, &acl) == ERROR_SUCCESS;
  SECURITY_DESCRIPTOR descriptor;
  done = done && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
         RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
  if (acl) LocalFree(acl);
  FreeSid(everyone);
  RegCloseKey(key);
  return done;
}

// The keys a test creates under HKEY_CLASSES_ROOT; whatever of them is left is removed, deepest
// first, when the test ends. Keys that were there before are never removed.
class CreatedKeys {
 public:
  ~CreatedKeys() {
    for (auto path = created_.rbegin(); path != created_.rend(); ++path) {
      DenyDeletion(*path, false);
      RegDeleteKeyA(HKEY_CLASSES_ROOT, path->c_str());
    }
  }

  // Creates `path` and any missing parents; sets the default value when `value` is given.
  void Add(const std::string& path, const char* value = nullptr) {
    size_t end = 0;
    do {
      end = path.find('\\', end + 1);
      CreateOne(path.substr(0, end));
    } while (end != std::string::npos);
    if (value) SetValue(path, nullptr, value);
  }

  void SetValue(const std::string& path, const char* name, const char* value) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), lstrlenA(value) + 1);
    RegCloseKey(key);
  }

 private:
  void CreateOne(const std::string& path) {
    HKEY key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS)
        << path;
    RegCloseKey(key);
    if (disposition == REG_CREATED_NEW_KEY) created_.push_back(path);
  }

  std::vector<std::string> created_;
};

// A registration as an installed product leaves it: each class with its server and values,
// each handler naming its class.
inline void RegisterShellExtension(CreatedKeys& keys) {
  for (const char* classId : kShellExtensionClassIds) {
    std::string key = ClassKey(classId);
    keys.Add(key, "Kestra shell extension");
    keys.Add(key + "\\InProcServer32", "C:\\Kestra\\KSSHLSTB.DLL");
    keys.SetValue(key + "\\InProcServer32", "ThreadingModel", "Apartment");
    keys.Add(key + "\\Implemented Categories\\{00021490-0000-0000-C000-000000000046}");
  }
  for (const char* handler : kShellExtensionHandlerKeys) keys.Add(handler, kStubLibraryClassId);
}
