// Long path expansion on Wine's file system: short names as this file system makes them
// (taken from GetShortPathNameA, since Wine mangles them differently from Windows) expand to
// the long names, component by component.
#include "setup/long_path.h"

#include <gtest/gtest.h>

#include <string>

#include "support/wine_env.h"

namespace {

const std::string kRoot = "C:\\ks-longpath";

class LongPathOnDisk : public testing::Test {
 protected:
  LongPathOnDisk() {
    CreateDirectoryA(programs_.c_str(), nullptr);
    CreateDirectoryA(product_.c_str(), nullptr);
    WriteFileBytes(product_ + "\\Read Me First.txt", "text");
  }

  std::string Expand(const std::string& source, int capacity = 261) {
    char result[400];
    int length = ExpandLongPath(source.c_str(), result, capacity);
    EXPECT_EQ(length, length ? static_cast<int>(strlen(result)) : 0) << source;
    return length ? std::string(result) : std::string();
  }

  TestFolder root_{kRoot};
  std::string programs_ = kRoot + "\\Program Files Long";
  std::string product_ = programs_ + "\\Kestra Product";
};

TEST_F(LongPathOnDisk, ShortFormsExpandToTheLongForms) {
  std::string shortProduct = ShortPath(product_);
  ASSERT_NE(shortProduct, product_);
  EXPECT_EQ(Expand(shortProduct), product_);
  EXPECT_EQ(Expand(ShortPath(product_ + "\\Read Me First.txt")), product_ + "\\Read Me First.txt");
  // Long and short components may be mixed, in any case.
  EXPECT_EQ(
      Expand(kRoot + "\\program files long\\" + shortProduct.substr(shortProduct.rfind('\\') + 1)),
      product_);
}

TEST_F(LongPathOnDisk, MissingPathsAreLeftAlone) {
  for (std::string source : {kRoot + "\\NOSUCH\\X", ShortPath(product_) + "\\NOSUCH",
                             ShortPath(product_) + "\\", std::string("C:\\")}) {
    EXPECT_EQ(Expand(source), "") << source;
    char path[276];
    lstrcpyA(path, source.c_str());
    EXPECT_EQ(ExpandLongPathInPlace(path), path);
    EXPECT_EQ(path, source);
  }
}

TEST_F(LongPathOnDisk, AWildcardLastComponentIsKeptAsItStands) {
  EXPECT_EQ(Expand(ShortPath(product_) + "\\*.txt"), product_ + "\\*.txt");
  EXPECT_EQ(Expand(ShortPath(product_) + "\\Read?Me*"), product_ + "\\Read?Me*");
}

// The device form \\.\C:\ has the shape of a UNC path: server ".", share "C:".
TEST_F(LongPathOnDisk, AUncPrefixIsKeptAsTyped) {
  std::string shortProduct = ShortPath(product_);
  std::string unc = "\\\\.\\C:\\" + shortProduct.substr(3);
  EXPECT_EQ(Expand(unc), "\\\\.\\C:\\" + product_.substr(3));
  // Without a share the whole text is the root, and a root alone is not found.
  EXPECT_EQ(Expand("\\\\.\\C:"), "");
}

// A short path whose long form is exactly 261 characters is taken by the in-place form; one
// character more and the path stays short.
TEST_F(LongPathOnDisk, InPlaceTakesALongFormOfUpTo261Characters) {
  std::string folder = kRoot + "\\" + std::string(240, 'd');  // 255 characters
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  std::string shortFolder = ShortPath(folder);
  // Paths past 260 characters are made and removed with the wide calls and the \\?\ prefix.
  auto wide = [&](const std::string& name) {
    std::wstring path(L"\\\\?\\");
    for (char c : folder + "\\" + name) path += static_cast<wchar_t>(c);
    return path;
  };
  for (std::string name : {"F.TXT", "FF.TXT"}) {
    HANDLE file =
        CreateFileW(wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
    CloseHandle(file);
  }

  char path[276];
  lstrcpyA(path, (shortFolder + "\\F.TXT").c_str());
  ExpandLongPathInPlace(path);
  EXPECT_EQ(strlen(path), 261u);
  EXPECT_EQ(std::string(path), folder + "\\F.TXT");

  std::string tooLong = shortFolder + "\\FF.TXT";
  lstrcpyA(path, tooLong.c_str());
  ExpandLongPathInPlace(path);
  EXPECT_EQ(std::string(path), tooLong);

  for (std::string name : {"F.TXT", "FF.TXT"}) DeleteFileW(wide(name).c_str());
}

}  // namespace
