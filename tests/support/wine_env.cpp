#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/ui_robot.h"

namespace {

const char kWineKey[] = "Software\\Wine";

}  // namespace

std::string EnvironmentText(const char* name) {
  char value[2048];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length && length < sizeof value ? std::string(value, length) : std::string();
}

std::string WinTreePath() {
  std::string tree = EnvironmentText("KS_WIN_TREE_W");
  if (tree.empty()) ADD_FAILURE() << "KS_WIN_TREE_W is not set: run the test through wine-run";
  return tree;
}

std::string SetupExePath() {
  return WinTreePath() + "\\src\\setup\\SETUP.EXE";
}

std::string FixturePath(const std::string& name) {
  return WinTreePath() + "\\tests\\fixtures\\" + name;
}

std::string ArtifactsPath(const std::string& fileName) {
  std::string folder = EnvironmentText("KS_ARTIFACTS_W");
  if (folder.empty()) folder = ".";
  return folder + "\\" + fileName;
}

std::string BuildPath(const std::string& name) {
  std::string build = EnvironmentText("KS_BUILD_W");
  if (build.empty()) ADD_FAILURE() << "KS_BUILD_W is not set: run the test through wine-run";
  return build + "\\" + name;
}

WindowsVersionScope::WindowsVersionScope(const std::string& version) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kWineKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot open HKCU\\" << kWineKey;
    return;
  }
  char old[64];
  DWORD size = sizeof old, type = 0;
  if (RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE*>(old), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ) {
    hadValue_ = true;
    previous_ = old;
  }
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                 static_cast<DWORD>(version.size() + 1));
  RegCloseKey(key);
}

WindowsVersionScope::~WindowsVersionScope() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kWineKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  if (hadValue_)
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_.c_str()),
                   static_cast<DWORD>(previous_.size() + 1));
  else
    RegDeleteValueA(key, "Version");
  RegCloseKey(key);
}

namespace {

void WriteRegistryValue(HKEY root, const std::string& subkey, const std::string& name,
                        const std::optional<std::string>& value, DWORD type) {
  HKEY key;
  if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot open " << subkey;
    return;
  }
  if (value)
    RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(value->c_str()),
                   static_cast<DWORD>(value->size() + 1));
  else
    RegDeleteValueA(key, name.c_str());
  RegCloseKey(key);
}

const char kNoProfileValue[] = "\x01 no value \x01";

}  // namespace

RegistryValueScope::RegistryValueScope(HKEY root, const std::string& subkey,
                                       const std::string& name,
                                       const std::optional<std::string>& value)
    : root_(root), subkey_(subkey), name_(name) {
  HKEY key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    char old[1024];
    DWORD size = sizeof old - 1;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &previousType_, reinterpret_cast<BYTE*>(old),
                         &size) == ERROR_SUCCESS)
      previous_ = std::string(old, size).c_str();
    RegCloseKey(key);
  }
  WriteRegistryValue(root_, subkey_, name_, value, REG_SZ);
}

RegistryValueScope::~RegistryValueScope() {
  WriteRegistryValue(root_, subkey_, name_, previous_, previousType_);
}

ProfileValueScope::ProfileValueScope(const std::string& section, const std::string& key,
                                     const std::optional<std::string>& value)
    : section_(section), key_(key) {
  char old[1024];
  GetProfileStringA(section.c_str(), key.c_str(), kNoProfileValue, old, sizeof old);
  if (std::string(old) != kNoProfileValue) previous_ = old;
  WriteProfileStringA(section.c_str(), key.c_str(), value ? value->c_str() : nullptr);
}

ProfileValueScope::~ProfileValueScope() {
  WriteProfileStringA(section_.c_str(), key_.c_str(), previous_ ? previous_->c_str() : nullptr);
}

std::string ShortPath(const std::string& path) {
  char shortPath[MAX_PATH] = "";
  DWORD length = GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
  if (!length || length >= sizeof shortPath) ADD_FAILURE() << "no short form of " << path;
  return shortPath;
}

TestFolder::TestFolder(const std::string& path) : path_(path) {
  RemoveTree(path_);
  if (!CreateDirectoryA(path_.c_str(), nullptr)) ADD_FAILURE() << "cannot create " << path_;
}

TestFolder::~TestFolder() {
  RemoveTree(path_);
}

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(child);
      else
        DeleteFileA(child.c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << path;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size()) << path;
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFileBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!bytes.empty())
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

FILETIME LastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

void SetLastWriteTime(const std::string& path, const FILETIME& time) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
}

void CopyFileOrFail(const std::string& from, const std::string& to) {
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

namespace {

bool CanOpenForWriting(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Runs chattr on the Unix side of `path` through Wine's start /unix.
void ChangeImmutable(const std::string& path, bool immutable) {
  using UnixNameProc = char*(CDECL*)(const WCHAR*);
  auto unixName = reinterpret_cast<UnixNameProc>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  std::wstring wide(path.begin(), path.end());
  char* name = unixName ? unixName(wide.c_str()) : nullptr;
  if (!name) {
    ADD_FAILURE() << "no Unix name for " << path;
    return;
  }
  std::string command = std::string("start.exe /wait /unix /usr/bin/chattr ") +
                        (immutable ? "+i" : "-i") + " \"" + name + "\"";
  HeapFree(GetProcessHeap(), 0, name);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    ADD_FAILURE() << "cannot run " << command;
    return;
  }
  WaitForSingleObject(info.hProcess, 10000);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
}

}  // namespace

// start /unix does not wait for the Unix program: the change is awaited by watching its effect.
ReadOnlyFile::ReadOnlyFile(const std::string& path) : path_(path) {
  SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY);
  if (!CanOpenForWriting(path_)) return;
  immutable_ = true;
  ChangeImmutable(path_, true);
  if (!WaitUntil([&] { return !CanOpenForWriting(path_); }, 10000))
    ADD_FAILURE() << "cannot make " << path_ << " read-only";
}

ReadOnlyFile::~ReadOnlyFile() {
  if (immutable_) {
    ChangeImmutable(path_, false);
    WaitUntil([&] { return CanOpenForWriting(path_); }, 10000);
  }
  SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

ExclusiveHold::ExclusiveHold(const std::string& path)
    : file_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr)) {}

ExclusiveHold::~ExclusiveHold() {
  Release();
}

void ExclusiveHold::Release() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

std::map<std::string, std::string> FilesByBaseName(const std::string& folder) {
  std::map<std::string, std::string> files;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      files.merge(FilesByBaseName(folder + "\\" + name));
    else
      files[name] = folder + "\\" + name;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return files;
}
