// The File Manager side of the tests: the product's extension registration in winfile.ini
// (written and put back through the profile calls) and the stand-in File Manager window that
// holds the extension library open.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "support/ui_robot.h"
#include "support/wine_env.h"

// Owns the "AddOns" "Kestra" entry of winfile.ini for one test: remembers what was there and
// puts it back afterwards (an absent entry, or an absent file, stays absent).
class FileManagerRegistration {
 public:
  FileManagerRegistration() {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    profilePath_ = std::string(windows) + "\\winfile.ini";
    fileExisted_ = PathExists(profilePath_);
    char value[MAX_PATH];
    GetPrivateProfileStringA("AddOns", "Kestra", kAbsent, value, MAX_PATH, "winfile.ini");
    previous_ = value;
  }
  ~FileManagerRegistration() {
    if (previous_ != kAbsent) {
      Set(previous_);
    } else {
      Remove();
    }
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "winfile.ini");  // flush
    if (!fileExisted_) DeleteFileA(profilePath_.c_str());
  }
  FileManagerRegistration(const FileManagerRegistration&) = delete;
  FileManagerRegistration& operator=(const FileManagerRegistration&) = delete;

  void Set(const std::string& libraryPath) {
    WritePrivateProfileStringA("AddOns", "Kestra", libraryPath.c_str(), "winfile.ini");
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "winfile.ini");
  }
  void Remove() {
    WritePrivateProfileStringA("AddOns", "Kestra", nullptr, "winfile.ini");
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "winfile.ini");
  }
  // The registered path, or "<absent>".
  std::string Current() const {
    char value[MAX_PATH];
    GetPrivateProfileStringA("AddOns", "Kestra", kAbsent, value, MAX_PATH, "winfile.ini");
    return value;
  }
  const std::string& profilePath() const { return profilePath_; }

  static constexpr const char kAbsent[] = "<absent>";

 private:
  std::string profilePath_;
  bool fileExisted_ = false;
  std::string previous_;
};

// The stand-in File Manager (tests/fixtures/file_manager.cpp), running while this lives.
// `mode` is "release", "never" or a delay in milliseconds before the library is released.
class FakeFileManager {
 public:
  FakeFileManager(const std::string& mode, const std::string& libraryPath)
      : process_(std::make_unique<ChildProcess>(FixturePath("file_manager.exe") + " " + mode + " " +
                                                libraryPath)) {
    WaitUntil([] { return FindWindowA("WFS_Frame", nullptr) != nullptr; }, 10000);
    window_ = FindWindowA("WFS_Frame", nullptr);
  }
  ~FakeFileManager() {
    process_.reset();
    WaitUntil([] { return FindWindowA("WFS_Frame", nullptr) == nullptr; }, 5000);
  }
  FakeFileManager(const FakeFileManager&) = delete;
  FakeFileManager& operator=(const FakeFileManager&) = delete;

  bool running() const { return window_ != nullptr; }
  // "File Manager" until the first reload request, then "reload <n>: <wParam> <lParam>".
  std::string Title() const {
    char title[200] = "";
    GetWindowTextA(window_, title, sizeof title);
    return title;
  }

 private:
  std::unique_ptr<ChildProcess> process_;
  HWND window_ = nullptr;
};
