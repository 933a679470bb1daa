// The Wine test environment: where the build's programs are, the artifacts folder, emulated
// Windows versions, and small owners for the folders and open files that tests create.
#pragma once
#include <windows.h>

#include <map>
#include <optional>
#include <vector>
#include <string>

// An environment variable's value, or "" when it is not set.
std::string EnvironmentText(const char* name);

// The Windows build that the tests run (KS_WIN_TREE_W), and paths inside it.
std::string WinTreePath();
std::string SetupExePath();
std::string FixturePath(const std::string& name);
std::string ArtifactsPath(const std::string& fileName);
// A path inside the build folder (KS_BUILD_W), for what native steps laid out for a test.
std::string BuildPath(const std::string& name);

// Sets HKCU\Software\Wine "Version" (win31, nt351, win95, nt40, win10, ...) for the processes
// started while it lives, and puts the previous value back afterwards.
class WindowsVersionScope {
 public:
  explicit WindowsVersionScope(const std::string& version);
  ~WindowsVersionScope();
  WindowsVersionScope(const WindowsVersionScope&) = delete;
  WindowsVersionScope& operator=(const WindowsVersionScope&) = delete;

 private:
  bool hadValue_ = false;
  std::string previous_;
};

// Sets (or, with nullopt, removes) a string value in the registry while it lives and puts the
// previous value back afterwards.
class RegistryValueScope {
 public:
  RegistryValueScope(HKEY root, const std::string& subkey, const std::string& name,
                     const std::optional<std::string>& value);
  ~RegistryValueScope();
  RegistryValueScope(const RegistryValueScope&) = delete;
  RegistryValueScope& operator=(const RegistryValueScope&) = delete;

 private:
  HKEY root_;
  std::string subkey_, name_;
  std::optional<std::string> previous_;
  DWORD previousType_ = REG_SZ;
};

// Sets (or, with nullopt, removes) a key of the user's WIN.INI while it lives and puts the
// previous value back afterwards.
class ProfileValueScope {
 public:
  ProfileValueScope(const std::string& section, const std::string& key,
                    const std::optional<std::string>& value);
  ~ProfileValueScope();
  ProfileValueScope(const ProfileValueScope&) = delete;
  ProfileValueScope& operator=(const ProfileValueScope&) = delete;

 private:
  std::string section_, key_;
  std::optional<std::string> previous_;
};

// The short (8.3) form of an existing path, as this file system makes it.
std::string ShortPath(const std::string& path);

// A folder created empty for one test and removed with everything in it afterwards.
class TestFolder {
 public:
  explicit TestFolder(const std::string& path);
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

void RemoveTree(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool PathExists(const std::string& path);
// The names of the files (not the folders) in `folder`, sorted.
std::vector<std::string> FileNames(const std::string& folder);
// Every file below `folder`, subfolders included, by base name (as setup flattens them), with
// its path.
std::map<std::string, std::string> FilesByBaseName(const std::string& folder);
FILETIME LastWriteTime(const std::string& path);
void SetLastWriteTime(const std::string& path, const FILETIME& time);
void CopyFileOrFail(const std::string& from, const std::string& to);

// Makes an existing file read-only while it lives. Under Wine the tests run as the Unix owner of
// the prefix, often root, whom the read-only attribute alone does not stop from writing; the file
// is then also made immutable (chattr +i) until the owner is destroyed.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

 private:
  std::string path_;
  bool immutable_ = false;
};

// Holds a file open with no sharing until destroyed (or released).
class ExclusiveHold {
 public:
  explicit ExclusiveHold(const std::string& path);
  ~ExclusiveHold();
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;
  bool held() const { return file_ != INVALID_HANDLE_VALUE; }
  void Release();

 private:
  HANDLE file_;
};
